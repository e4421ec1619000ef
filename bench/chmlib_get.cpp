// chmlib's single-object retrieval, the peer of a help request in the
// benchmarks: chm_open, chm_resolve_object and chm_retrieve_object of one
// stored file, written to standard output.
//
// usage: chmlib_get FILE NAME
#include <cstdio>
#include <vector>

#include <chm_lib.h>

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: chmlib_get FILE NAME\n");
        return 2;
    }
    chmFile* file = chm_open(argv[1]);
    if (!file) {
        fprintf(stderr, "chmlib_get: cannot open %s\n", argv[1]);
        return 1;
    }
    chmUnitInfo unit;
    if (chm_resolve_object(file, argv[2], &unit) != CHM_RESOLVE_SUCCESS) {
        fprintf(stderr, "chmlib_get: %s is not in %s\n", argv[2], argv[1]);
        chm_close(file);
        return 1;
    }
    std::vector<unsigned char> data((size_t)unit.length);
    LONGINT64 got = chm_retrieve_object(file, &unit, data.data(), 0, (LONGINT64)unit.length);
    chm_close(file);
    if (got != (LONGINT64)unit.length) {
        fprintf(stderr, "chmlib_get: %s cannot be retrieved\n", argv[2]);
        return 1;
    }
    fwrite(data.data(), 1, data.size(), stdout);
    return 0;
}
