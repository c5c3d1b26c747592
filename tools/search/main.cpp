// tarvish-search: batch lookup of a peak list in a molecule database, with adducts, ppm
// errors and isotope-pattern scores.
#include <malloc.h>

#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "options.h"
#include "search_run.h"

int main(int argc, char** argv) {
    using namespace tvsearch;
    // Every query answers a text of up to a few megabytes, made and dropped thousands of
    // times: keep such blocks in the heap instead of mapping and unmapping them (and
    // faulting their pages in) each time.
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    try {
        SearchOptions o;
        std::string out, error;
        const int status = parseSearchArgs(std::vector<std::string>(argv + 1, argv + argc), o, out,
                                           error);
        if (status >= 0) {
            if (!out.empty()) std::fputs(out.c_str(), stdout);
            if (!error.empty())
                std::fprintf(stderr, "tarvish-search: %s\nTry 'tarvish-search --help'.\n",
                             error.c_str());
            return status;
        }
        const int rc = runSearch(o, stderr);
        if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
            std::fprintf(stderr, "tarvish-search: cannot write standard output\n");
            return kExitOutput;
        }
        return rc;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "tarvish-search: out of memory\n");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tarvish-search: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "tarvish-search: unexpected failure\n");
    }
    return kExitInternal;
}
