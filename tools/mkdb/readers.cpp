#include "readers.h"

#include <cctype>
#include <fstream>
#include <sstream>
#include <vector>

#include "text_utils.h"

namespace mkdb {
namespace {

std::string lower(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return r;
}

std::ifstream openInput(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw InputError("cannot read " + path);
    return in;
}

std::string slurp(const std::string& path) {
    std::ifstream in = openInput(path);
    std::ostringstream ss;
    ss << in.rdbuf();
    if (in.bad()) throw InputError("read error in " + path);
    return ss.str();
}

void stripCr(std::string& line) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
}

// Reads one record of a delimited file into fields; handles quoted fields that span lines.
// Returns false at the end of the file. lines counts the physical lines consumed.
bool readFields(std::istream& in, const DelimitedOptions& o, std::vector<std::string>& fields,
                long& lines) {
    fields.clear();
    std::string line;
    if (!std::getline(in, line)) return false;
    ++lines;
    stripCr(line);
    std::string field;
    bool inQuotes = false, wasQuoted = false;
    size_t i = 0;
    for (;;) {
        if (i >= line.size()) {
            if (inQuotes) {
                // A quoted field goes on on the next line.
                std::string next;
                if (!std::getline(in, next)) break;
                ++lines;
                stripCr(next);
                field += '\n';
                line = std::move(next);
                i = 0;
                continue;
            }
            break;
        }
        const char c = line[i];
        if (inQuotes) {
            if (c == '"') {
                if (i + 1 < line.size() && line[i + 1] == '"') {
                    field += '"';
                    ++i;
                } else {
                    inQuotes = false;
                }
            } else {
                field += c;
            }
        } else if (c == o.delimiter) {
            fields.push_back(wasQuoted ? field : std::string(trimBlanks(field)));
            field.clear();
            wasQuoted = false;
        } else if (c == '"' && o.quoted && trimBlanks(field).empty() && !wasQuoted) {
            field.clear();
            inQuotes = wasQuoted = true;
        } else {
            field += c;
        }
        ++i;
    }
    fields.push_back(wasQuoted ? field : std::string(trimBlanks(field)));
    return true;
}

// Index (0-based) of a column in the header, or -1.
int resolveColumn(const ColumnRef& ref, const std::vector<std::string>& header) {
    if (ref.number > 0) return ref.number - 1;
    const std::string want = lower(ref.name);
    for (size_t i = 0; i < header.size(); ++i)
        if (lower(trimBlanks(header[i])) == want) return int(i);
    return -1;
}

// Value of an SD data field "> <NAME>" in a molfile block; false when absent.
bool sdfField(const std::string& block, const std::string& wanted, std::string& value) {
    std::istringstream in(block);
    std::string line;
    const std::string want = lower(wanted);
    while (std::getline(in, line)) {
        stripCr(line);
        if (line.empty() || line[0] != '>') continue;
        size_t lt = line.find('<'), gt = line.find('>', lt == std::string::npos ? 0 : lt);
        if (lt == std::string::npos || gt == std::string::npos) continue;
        if (lower(line.substr(lt + 1, gt - lt - 1)) != want) continue;
        std::string v, l;
        while (std::getline(in, l)) {
            stripCr(l);
            if (l.empty()) break;
            if (!v.empty()) v += ' ';
            v += l;
        }
        value = std::string(trimBlanks(v));
        return true;
    }
    return false;
}

long countLines(const std::string& text, size_t from, size_t to) {
    long n = 0;
    for (size_t i = from; i < to && i < text.size(); ++i)
        n += text[i] == '\n';
    return n;
}

// True when text at pos starts the tag <tag followed by a blank, '>' or '/'.
bool isOpenTag(const std::string& text, size_t pos, const char* tag) {
    const size_t n = std::char_traits<char>::length(tag);
    if (text.compare(pos + 1, n, tag) != 0) return false;
    const char next = pos + 1 + n < text.size() ? text[pos + 1 + n] : '\0';
    return next == '>' || next == '/' || std::isspace(static_cast<unsigned char>(next));
}

// Value of attribute attr in the start tag text[tagStart..tagEnd).
std::string attribute(const std::string& text, size_t tagStart, size_t tagEnd,
                      const std::string& attr) {
    const std::string tag = text.substr(tagStart, tagEnd - tagStart);
    size_t p = 0;
    while ((p = tag.find(attr, p)) != std::string::npos) {
        const bool wordStart = p > 0 && std::isspace(static_cast<unsigned char>(tag[p - 1]));
        size_t q = p + attr.size();
        while (q < tag.size() && std::isspace(static_cast<unsigned char>(tag[q])))
            ++q;
        if (wordStart && q < tag.size() && tag[q] == '=') {
            ++q;
            while (q < tag.size() && std::isspace(static_cast<unsigned char>(tag[q])))
                ++q;
            if (q < tag.size() && (tag[q] == '"' || tag[q] == '\'')) {
                size_t end = tag.find(tag[q], q + 1);
                if (end != std::string::npos) return tag.substr(q + 1, end - q - 1);
            }
        }
        p += attr.size();
    }
    return {};
}

} // namespace

ColumnRef ColumnRef::parse(const std::string& text) {
    ColumnRef r;
    bool digits = !text.empty() && text.size() < 6;
    for (char c : text)
        digits = digits && std::isdigit(static_cast<unsigned char>(c));
    if (digits && std::stoi(text) > 0)
        r.number = std::stoi(text);
    else
        r.name = text;
    return r;
}

void readSmilesFile(const std::string& path, const RecordSink& sink) {
    std::ifstream in = openInput(path);
    std::string line;
    long lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        std::string_view t = trimBlanks(line);
        if (t.empty()) continue;
        size_t sp = t.find_first_of(" \t");
        Record r;
        r.source = path;
        r.line = lineNo;
        r.kind = StructureKind::Smiles;
        r.structure = std::string(t.substr(0, sp));
        if (sp != std::string_view::npos) r.name = std::string(trimBlanks(t.substr(sp)));
        sink(std::move(r));
    }
    if (in.bad()) throw InputError("read error in " + path);
}

void readDelimitedFile(const std::string& path, const DelimitedOptions& options,
                       const RecordSink& sink) {
    std::ifstream in = openInput(path);
    DelimitedOptions o = options;
    // Without any column choice the header names them; a choice by name needs a header too.
    if (o.smiles.empty()) o.smiles.name = "smiles";
    const bool byName = !o.smiles.name.empty() || !o.name.name.empty();
    const bool header = o.header == 1 || (o.header == -1 && byName);
    if (!header && byName)
        throw InputError("columns chosen by name need a header line (" + path + ")");

    std::vector<std::string> fields;
    long lines = 0;
    int smilesCol = -1, nameCol = -1;
    if (header) {
        if (!readFields(in, o, fields, lines)) return; // empty file
        smilesCol = resolveColumn(o.smiles, fields);
        if (smilesCol < 0)
            throw InputError(path + ": no column \"" + o.smiles.name + "\" in the header");
        if (!o.name.empty()) {
            nameCol = resolveColumn(o.name, fields);
            if (nameCol < 0)
                throw InputError(path + ": no column \"" + o.name.name + "\" in the header");
        } else if (options.name.empty()) {
            nameCol = resolveColumn(ColumnRef{"name", 0}, fields); // optional
        }
    } else {
        smilesCol = o.smiles.number - 1;
        nameCol = o.name.number - 1;
    }

    for (;;) {
        const long first = lines + 1;
        if (!readFields(in, o, fields, lines)) break;
        if (fields.size() == 1 && fields[0].empty()) continue; // blank line
        Record r;
        r.source = path;
        r.line = first;
        r.kind = StructureKind::Smiles;
        if (smilesCol >= int(fields.size()))
            r.problem = "no SMILES column (line has " + std::to_string(fields.size()) + " fields)";
        else
            r.structure = fields[size_t(smilesCol)];
        if (nameCol >= 0 && nameCol < int(fields.size())) r.name = fields[size_t(nameCol)];
        sink(std::move(r));
    }
    if (in.bad()) throw InputError("read error in " + path);
}

void readSdfFile(const std::string& path, const std::string& nameField, const RecordSink& sink) {
    const std::string text = slurp(path);
    size_t pos = 0;
    long line = 1;
    while (pos < text.size()) {
        // The block runs to the next line that starts with "$$$$".
        size_t end = pos;
        size_t next = std::string::npos;
        while (end < text.size()) {
            if (text.compare(end, 4, "$$$$") == 0) {
                size_t eol = text.find('\n', end);
                next = eol == std::string::npos ? text.size() : eol + 1;
                break;
            }
            size_t eol = text.find('\n', end);
            end = eol == std::string::npos ? text.size() : eol + 1;
        }
        if (next == std::string::npos) next = text.size();
        std::string block = text.substr(pos, end - pos);
        const long blockLines = countLines(text, pos, next);
        if (!trimBlanks(block).empty()) {
            Record r;
            r.source = path;
            r.line = line;
            r.kind = StructureKind::Molfile;
            std::string title = block.substr(0, block.find('\n'));
            stripCr(title);
            std::string value;
            if (!nameField.empty() && sdfField(block, nameField, value))
                r.name = value;
            else if (!trimBlanks(title).empty())
                r.name = std::string(trimBlanks(title));
            else if (sdfField(block, "name", value))
                r.name = value;
            r.structure = std::move(block);
            sink(std::move(r));
        }
        line += blockLines;
        pos = next;
    }
}

void readCmlFile(const std::string& path, const RecordSink& sink) {
    const std::string text = slurp(path);
    size_t pos = 0;
    while ((pos = text.find('<', pos)) != std::string::npos) {
        if (!isOpenTag(text, pos, "molecule")) {
            ++pos;
            continue;
        }
        // Find the matching end tag, counting nested <molecule> elements.
        const size_t tagEnd = text.find('>', pos);
        if (tagEnd == std::string::npos) break;
        size_t end = std::string::npos;
        if (text[tagEnd - 1] == '/') {
            end = tagEnd + 1;
        } else {
            int depth = 1;
            size_t p = tagEnd + 1;
            while (depth > 0 && (p = text.find('<', p)) != std::string::npos) {
                if (isOpenTag(text, p, "molecule")) {
                    size_t e = text.find('>', p);
                    if (e == std::string::npos) break;
                    if (text[e - 1] != '/') ++depth;
                    p = e + 1;
                } else if (text.compare(p, 11, "</molecule>") == 0 ||
                           (text.compare(p, 10, "</molecule") == 0 && p + 10 < text.size() &&
                            (text[p + 10] == '>' ||
                             std::isspace(static_cast<unsigned char>(text[p + 10]))))) {
                    if (--depth == 0) {
                        // An end tag cut off by the end of the file leaves the molecule
                        // unterminated (end stays npos).
                        const size_t close = text.find('>', p);
                        if (close != std::string::npos) end = close + 1;
                    }
                    p += 10;
                } else {
                    ++p;
                }
            }
        }
        Record r;
        r.source = path;
        r.line = 1 + countLines(text, 0, pos);
        r.kind = StructureKind::Cml;
        if (end == std::string::npos) {
            r.problem = "unterminated <molecule> element";
            sink(std::move(r));
            break;
        }
        const std::string block = text.substr(pos, end - pos);
        // The first <name> element of the molecule.
        size_t n = 0;
        while ((n = block.find("<name", n)) != std::string::npos && !isOpenTag(block, n, "name"))
            n += 5;
        if (n != std::string::npos) {
            size_t open = block.find('>', n);
            size_t close = block.find("</name", open);
            if (open != std::string::npos && close != std::string::npos && block[open - 1] != '/')
                r.name = std::string(trimBlanks(block.substr(open + 1, close - open - 1)));
        }
        if (r.name.empty()) r.name = attribute(text, pos, tagEnd, "title");
        r.structure = "<?xml version=\"1.0\"?>\n" + block;
        sink(std::move(r));
        pos = end;
    }
}

} // namespace mkdb
