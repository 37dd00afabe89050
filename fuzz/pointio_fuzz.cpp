// Fuzzes the LAS and XYZ point readers: the input goes to a file named .las
// when it starts with 'L' (as the LAS signature does), .xyz otherwise. A set
// that reads must hold valid points file bounds and index every point; it is
// then written back as LAS and XYZ and must read back with the same count.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "FuzzSupport.h"
#include "PointIO/PointIO.h"
#include "TIN/TINPoints.h"

namespace {

std::string Stem() {
    static const std::string stem = "/tmp/pointio_fuzz_" + std::to_string(getpid());
    return stem;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SilenceMessages();
    if (size == 0) return 0;
    const std::string path = Stem() + (data[0] == 'L' ? ".las" : ".xyz");
    {
        FilePtr f(std::fopen(path.c_str(), "wb"));
        if (!f || std::fwrite(data, 1, size, f.get()) != size) std::abort();
    }
    CTINPoints set;
    const int rc = ImportPoints(path, set);
    std::remove(path.c_str());
    if (rc != 1) {
        if (set.GetCount() != 0) std::abort();  // a failed read leaves the set as it was
        return 0;
    }
    if (set.GetCount() < 1 || !(set.m_dMaxX > set.m_dMinX) || !(set.m_dMaxY > set.m_dMinY))
        std::abort();
    if (set.GetCount() <= 100000 && set.BuildIndex(1) != 0) std::abort();
    for (const char* ext : {".las", ".xyz"}) {
        const std::string out = Stem() + "_out" + ext;
        const int written = ExportPoints(out, set);
        if (written == set.GetCount()) {
            CTINPoints back;
            if (ImportPoints(out, back) != 1 || back.GetCount() != set.GetCount()) std::abort();
        } else if (written >= 0) {
            std::abort();
        }
        std::remove(out.c_str());
    }
    return 0;
}
