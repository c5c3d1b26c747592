#include "jet_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace mkdb {

using namespace jet;

namespace {

// The fixed pages at the start of the file.
enum : uint32_t {
    kPageHeader = 0,
    kPageGlobalMap = 1,
    kPageCatalog = 2,     // MSysObjects' definition: always page 2
    kPageMaps = 3,        // the usage maps of every table
    kPageCatalogData = 4, // the rows of MSysObjects
    kPageAces = 5,
    kPageQueries = 6,
    kPageRelationships = 7,
    kPageTable = 8, // the user table's definition
    kFirstFreePage = 9,
};

// Rows of the usage-map page: (used, free) per table, then the table's long values.
enum : uint32_t {
    kMapCatalog = 0,
    kMapAces = 2,
    kMapQueries = 4,
    kMapRelationships = 6,
    kMapTable = 8,
    kMapLongValues = 10,
};

constexpr uint32_t kCatalogRows = 9;

// Ids of the catalog's containers and objects, as Access numbers them.
constexpr int32_t kIdRoot = 0x0F000000;
constexpr int32_t kIdTables = 0x0F000001;
constexpr int32_t kIdDatabases = 0x0F000002;
constexpr int32_t kIdRelationships = 0x0F000003;
constexpr int32_t kIdMSysDb = 0x10000000;
constexpr uint32_t kSystemFlags = 0x80000000;

std::string le16(int v) {
    std::string b;
    append16(b, uint32_t(v));
    return b;
}
std::string le32(int64_t v) {
    std::string b;
    append32(b, uint32_t(v));
    return b;
}

TableDef::Field value(std::string bytes) {
    return TableDef::Field{false, std::move(bytes)};
}

const TableDef& catalogDef() {
    static const TableDef def({
        {"Id", kLong},           {"ParentId", kLong},
        {"Name", kText, 510, true}, {"Type", kInt},
        {"DateCreate", kDateTime}, {"DateUpdate", kDateTime},
        {"Owner", kBinary, 255}, {"Flags", kLong},
        {"Database", kMemo, 0, true}, {"Connect", kMemo, 0, true},
        {"ForeignName", kText, 510, true}, {"RmtInfoShort", kBinary, 255},
        {"RmtInfoLong", kOle},   {"Lv", kOle},
        {"LvProp", kOle},        {"LvModule", kOle},
        {"LvExtra", kOle},
    });
    return def;
}

const TableDef& acesDef() {
    static const TableDef def({{"ACM", kLong}, {"FInheritable", kBool}, {"ObjectId", kLong},
                               {"SID", kBinary, 255}});
    return def;
}

const TableDef& queriesDef() {
    static const TableDef def({{"Attribute", kByte}, {"Expression", kText, 510, true},
                               {"Flag", kInt}, {"LvExtra", kOle}, {"Name1", kText, 510, true},
                               {"Name2", kText, 510, true}, {"ObjectId", kLong},
                               {"Order", kBinary, 255}});
    return def;
}

const TableDef& relationshipsDef() {
    static const TableDef def({{"ccolumn", kLong}, {"grbit", kLong}, {"icolumn", kLong},
                               {"szColumn", kText, 510, true}, {"szObject", kText, 510, true},
                               {"szReferencedColumn", kText, 510, true},
                               {"szReferencedObject", kText, 510, true},
                               {"szRelationship", kText, 510, true}});
    return def;
}

std::string emptyTable(const TableDef& def, uint32_t mapRow) {
    return def.tdefPage(0, pgRow(kPageMaps, mapRow), pgRow(kPageMaps, mapRow + 1), {}, true);
}

constexpr size_t kTextChars = 255;
constexpr size_t kMemoCompressMax = 1024; // Access compresses memo values up to this length

class MoleculeWriter : public RowWriter {
  public:
    explicit MoleculeWriter(const std::string& path)
        : file_(path, "Molecules",
                TableDef({{"ID", kLong},
                          {"MassMI", kDouble},
                          {"Formula", kText, 2 * kTextChars, true},
                          {"Name", kText, 2 * kTextChars, true},
                          {"Smiles", kMemo, 0, true}})) {}

    bool start(std::string& error) { return file_.start(error); }

    bool add(long long id, const Row& r, std::string& error) override {
        if (id < INT32_MIN || id > INT32_MAX) {
            error = "row ID " + std::to_string(id) + " does not fit an Access Long";
            return false;
        }
        const std::u16string formula = utf16(r.formula);
        if (formula.size() > kTextChars) {
            error = "the formula of row " + std::to_string(id) + " is longer than " +
                    std::to_string(kTextChars) + " characters";
            return false;
        }
        std::u16string name = utf16(r.name);
        if (name.size() > kTextChars) {
            name = cutText(name, kTextChars);
            ++namesCut_;
        }
        std::vector<TableDef::Field> f(5);
        f[0] = value(le32(id));
        f[1] = value(doubleBytes(r.mass));
        f[2] = value(encodeText(formula, true));
        if (!name.empty()) f[3] = value(encodeText(name, true));
        const std::u16string smiles = utf16(r.smiles);
        std::string memo;
        if (!file_.longValue(encodeText(smiles, smiles.size() <= kMemoCompressMax), memo, error))
            return false;
        f[4] = value(std::move(memo));
        return file_.addRow(f, error);
    }

    bool finish(std::string& error) override {
        if (!file_.finish(error)) return false;
        if (namesCut_ > 0)
            std::fprintf(stderr,
                         "tarvish-mkdb: %ld name(s) longer than %zu characters were cut there, "
                         "the limit of an Access Text column\n",
                         namesCut_, kTextChars);
        return true;
    }

  private:
    JetTableWriter file_;
    long namesCut_ = 0;
};

} // namespace

std::unique_ptr<RowWriter> openJetWriter(const std::string& path, std::string& error) {
    auto w = std::make_unique<MoleculeWriter>(path);
    if (!w->start(error)) return nullptr;
    return w;
}

// The temporary file sits beside the target so that the rename stays on one file system.
JetTableWriter::JetTableWriter(std::string path, std::string table, TableDef def)
    : path_(std::move(path)), tmp_(path_ + ".tmp-" + std::to_string(::getpid())),
      table_(std::move(table)), def_(std::move(def)), date_(oleDateNow()),
      nextPage_(kFirstFreePage) {}

JetTableWriter::~JetTableWriter() {
    if (fd_ >= 0) ::close(fd_);
    if (!done_) {
        std::error_code ec;
        std::filesystem::remove(tmp_, ec);
    }
}

bool JetTableWriter::start(std::string& error) {
    std::error_code ec;
    std::filesystem::remove(tmp_, ec);
    fd_ = ::open(tmp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        error = "cannot create " + tmp_ + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool JetTableWriter::allocPage(uint32_t& page, std::string& error) {
    if (nextPage_ >= kMaxPages - 32) { // room left for the usage-map pages
        error = "the database would exceed 2 GB, the limit of an Access file";
        return false;
    }
    page = nextPage_++;
    return true;
}

bool JetTableWriter::writePage(uint32_t page, const std::string& bytes, std::string& error) {
    const off_t at = off_t(page) * kPageSize;
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::pwrite(fd_, bytes.data() + done, bytes.size() - done, at + off_t(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = "cannot write " + tmp_ + ": " + std::strerror(errno);
            return false;
        }
        done += size_t(n);
    }
    return true;
}

bool JetTableWriter::flushData(std::string& error) {
    if (!data_) return true;
    const bool ok = writePage(dataPage_, data_->bytes(), error);
    data_.reset();
    return ok;
}

bool JetTableWriter::flushLval(std::string& error) {
    if (!lval_) return true;
    const bool ok = writePage(lvalPage_, lval_->bytes(), error);
    lval_.reset();
    return ok;
}

bool JetTableWriter::addRow(const std::vector<TableDef::Field>& fields, std::string& error) {
    const std::string row = def_.encodeRow(fields);
    if (!data_ || data_->room() < row.size()) {
        if (!flushData(error) || !allocPage(dataPage_, error)) return false;
        data_ = std::make_unique<PageBuilder>(kPageTable, false);
        dataPages_.push_back(dataPage_);
        if (data_->room() < row.size()) {
            error = "a row of " + std::to_string(row.size()) + " bytes does not fit a page";
            return false;
        }
    }
    data_->add(row);
    ++rows_;
    return true;
}

bool JetTableWriter::addLval(const std::string& row, uint32_t& at, std::string& error) {
    if (!lval_ || lval_->room() < row.size()) {
        if (!flushLval(error) || !allocPage(lvalPage_, error)) return false;
        lval_ = std::make_unique<PageBuilder>(0, true);
        lvalPages_.push_back(lvalPage_);
    }
    at = pgRow(lvalPage_, lval_->add(row));
    return true;
}

// Inline when short, else a pointer to one long-value row, or to a chain of them (each link:
// the next link's pointer, then a piece of the value).
bool JetTableWriter::longValue(const std::string& data, std::string& field, std::string& error) {
    const uint32_t len = uint32_t(data.size());
    field = le32(len);
    if (len <= kMemoInlineMax) {
        field[3] = char(0x80);
        field += std::string(8, '\0') + data;
        return true;
    }
    uint32_t at = 0;
    if (len <= kLvalChunkMax) {
        field[3] = char(0x40);
        if (!addLval(data, at, error)) return false;
    } else {
        // The chain is written from its end, so that each link knows the next one.
        const size_t links = (data.size() + kLvalChunkMax - 1) / kLvalChunkMax;
        for (size_t k = links; k-- > 0;)
            if (!addLval(le32(at) + data.substr(k * kLvalChunkMax, kLvalChunkMax), at, error))
                return false;
    }
    field += le32(at) + std::string(4, '\0');
    return true;
}

// Page 1: the database's map of free pages (those past the end, as far as it reaches).
std::string JetTableWriter::globalMap() const {
    std::string rec(kMapRecordSize, '\0');
    for (uint32_t p = nextPage_; p < (kMapRecordSize - 5) * 8; ++p)
        rec[5 + p / 8] = char(rec[5 + p / 8] | (1 << (p % 8)));
    PageBuilder page(1, false);
    page.add(rec);
    page.add(std::string(kMapRecordSize, '\0'));
    return page.bytes();
}

std::string JetTableWriter::catalogRow(int32_t id, int32_t parent, const std::string& name,
                                       int type, uint32_t flags) const {
    std::vector<TableDef::Field> f(catalogDef().columns().size());
    f[0] = value(le32(id));
    f[1] = value(le32(parent));
    f[2] = value(encodeText(utf16(name), true));
    f[3] = value(le16(type));
    f[4] = value(doubleBytes(date_));
    f[5] = value(doubleBytes(date_));
    f[7] = value(le32(int64_t(flags)));
    return catalogDef().encodeRow(f);
}

std::string JetTableWriter::catalogPage() const {
    PageBuilder page(kPageCatalog, false);
    const std::string rows[kCatalogRows] = {
        catalogRow(kIdTables, kIdRoot, "Tables", 3, kSystemFlags),
        catalogRow(kIdDatabases, kIdRoot, "Databases", 3, kSystemFlags),
        catalogRow(kIdRelationships, kIdRoot, "Relationships", 3, kSystemFlags),
        catalogRow(kIdMSysDb, kIdDatabases, "MSysDb", 2, kSystemFlags),
        catalogRow(kPageCatalog, kIdTables, "MSysObjects", 1, kSystemFlags),
        catalogRow(kPageAces, kIdTables, "MSysACEs", 1, kSystemFlags),
        catalogRow(kPageQueries, kIdTables, "MSysQueries", 1, kSystemFlags),
        catalogRow(kPageRelationships, kIdTables, "MSysRelationships", 1, kSystemFlags),
        catalogRow(kPageTable, kIdTables, table_, 1, 0),
    };
    for (const std::string& r : rows)
        page.add(r);
    return page.bytes();
}

bool JetTableWriter::finish(std::string& error) {
    if (!flushData(error) || !flushLval(error)) return false;
    std::vector<MapPage> mapPages;
    const std::string tableMap = usageMap(dataPages_, nextPage_, mapPages);
    const std::string lvalMap = usageMap(lvalPages_, nextPage_, mapPages);
    if (nextPage_ > kMaxPages) {
        error = "the database would exceed 2 GB, the limit of an Access file";
        return false;
    }
    for (const MapPage& m : mapPages)
        if (!writePage(m.number, m.bytes, error)) return false;

    const std::string none(kMapRecordSize, '\0');
    std::vector<MapPage> unused;
    uint32_t noPage = 0;
    const std::string catalogMap = usageMap({kPageCatalogData}, noPage, unused);
    PageBuilder maps(0, false);
    for (const std::string* rec : {&catalogMap, &catalogMap, &none, &none, &none, &none, &none,
                                   &none, &tableMap, &none, &lvalMap, &none})
        maps.add(*rec);
    // Every long-value column names the map of the table's long-value pages.
    std::vector<TableDef::LongValueMaps> lvalMaps;
    for (size_t i = 0; i < def_.columns().size(); ++i) {
        const ColType t = def_.columns()[i].type;
        if (t == kMemo || t == kOle)
            lvalMaps.push_back({uint16_t(i), pgRow(kPageMaps, kMapLongValues),
                                pgRow(kPageMaps, kMapLongValues + 1)});
    }
    if (!writePage(kPageHeader, headerPage(date_), error) ||
        !writePage(kPageGlobalMap, globalMap(), error) ||
        !writePage(kPageCatalog,
                   catalogDef().tdefPage(kCatalogRows, pgRow(kPageMaps, kMapCatalog),
                                         pgRow(kPageMaps, kMapCatalog + 1), {}, true),
                   error) ||
        !writePage(kPageMaps, maps.bytes(), error) ||
        !writePage(kPageCatalogData, catalogPage(), error) ||
        !writePage(kPageAces, emptyTable(acesDef(), kMapAces), error) ||
        !writePage(kPageQueries, emptyTable(queriesDef(), kMapQueries), error) ||
        !writePage(kPageRelationships, emptyTable(relationshipsDef(), kMapRelationships), error) ||
        !writePage(kPageTable,
                   def_.tdefPage(rows_, pgRow(kPageMaps, kMapTable),
                                 pgRow(kPageMaps, kMapTable + 1), lvalMaps, false),
                   error))
        return false;
    if (::fsync(fd_) != 0 || ::close(fd_) != 0) {
        fd_ = -1;
        error = "cannot write " + tmp_ + " to disk: " + std::strerror(errno);
        return false;
    }
    fd_ = -1;
    if (std::rename(tmp_.c_str(), path_.c_str()) != 0) {
        error = "cannot rename " + tmp_ + " to " + path_ + ": " + std::strerror(errno);
        return false;
    }
    done_ = true;
    return true;
}

} // namespace mkdb
