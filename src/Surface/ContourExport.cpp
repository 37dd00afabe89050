#include "Surface/ContourExport.h"

#include <cpl_conv.h>
#include <cpl_string.h>
#include <cpl_vsi.h>
#include <gdal.h>
#include <ogr_api.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>

#include "Platform/AtomicFile.h"

namespace {

std::string LowerExtension(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string ext = path.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Folder(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

void Fail(std::string* error, const std::string& text) {
    if (error) *error = text;
}

}  // namespace

std::string ContourDriverFor(const std::string& path) {
    const std::string ext = LowerExtension(path);
    if (ext == ".geojson") return "GeoJSON";
    if (ext == ".shp") return "ESRI Shapefile";
    if (ext == ".dxf") return "DXF";
    return {};
}

int WriteContours(const std::string& path, const std::vector<ContourLine>& lines,
                  std::string* error) {
    const std::string driverName = ContourDriverFor(path);
    if (driverName.empty()) {
        Fail(error, "the output must end in .geojson, .shp or .dxf");
        return kContourUnknownFormat;
    }
    GDALAllRegister();
    GDALDriverH driver = GDALGetDriverByName(driverName.c_str());
    if (!driver) {
        Fail(error, "GDAL has no " + driverName + " driver");
        return kContourDriverFailed;
    }
    // A folder of GDAL's memory of its own for this call.
    static std::atomic<int> calls{0};
    const std::string memory =
        "/vsimem/orvane_contours_" + std::to_string(getpid()) + "_" + std::to_string(calls++) + "/";
    VSIMkdir(memory.c_str(), 0755);
    const std::string name = BaseName(path);
    const bool dxf = driverName == "DXF";
    bool made = false;
    {
        GDALDatasetH dataset =
            GDALCreate(driver, (memory + name).c_str(), 0, 0, 0, GDT_Unknown, nullptr);
        if (dataset) {
            char** options = nullptr;
            // All the digits of a double, so that the lines read back as written.
            if (driverName == "GeoJSON")
                options = CSLSetNameValue(options, "SIGNIFICANT_FIGURES", "17");
            OGRLayerH layer =
                GDALDatasetCreateLayer(dataset, "contours", nullptr, wkbLineString25D, options);
            CSLDestroy(options);
            bool ok = layer != nullptr;
            if (ok && !dxf) {
                for (const auto& [field, type] :
                     {std::pair{"height", OFTReal}, std::pair{"level", OFTInteger},
                      std::pair{"index", OFTInteger}}) {
                    OGRFieldDefnH definition = OGR_Fld_Create(field, type);
                    ok = ok && OGR_L_CreateField(layer, definition, TRUE) == OGRERR_NONE;
                    OGR_Fld_Destroy(definition);
                }
            }
            for (size_t i = 0; ok && i < lines.size(); ++i) {
                const ContourLine& line = lines[i];
                OGRFeatureH feature = OGR_F_Create(OGR_L_GetLayerDefn(layer));
                OGRGeometryH geometry = OGR_G_CreateGeometry(wkbLineString25D);
                for (const surface::XY& p : line.points)
                    OGR_G_AddPoint(geometry, p.x, p.y, line.height);
                OGR_F_SetGeometryDirectly(feature, geometry);
                if (dxf) {
                    OGR_F_SetFieldString(feature, OGR_F_GetFieldIndex(feature, "Layer"),
                                         line.index ? "INDEX" : "CONTOUR");
                } else {
                    OGR_F_SetFieldDouble(feature, 0, line.height);
                    OGR_F_SetFieldInteger(feature, 1, line.level);
                    OGR_F_SetFieldInteger(feature, 2, line.index ? 1 : 0);
                }
                ok = OGR_L_CreateFeature(layer, feature) == OGRERR_NONE;
                OGR_F_Destroy(feature);
            }
            // GDALClose says nothing itself: a failed flush shows as an error.
            CPLErrorReset();
            GDALClose(dataset);
            made = ok && CPLGetLastErrorType() != CE_Failure && CPLGetLastErrorType() != CE_Fatal;
        }
    }
    int result = 1;
    if (!made) {
        Fail(error, std::string("GDAL could not make the file: ") + CPLGetLastErrorMsg());
        result = kContourDriverFailed;
    }
    // Every file the driver made (a shapefile is several) goes beside `path`.
    char** files = VSIReadDir(memory.c_str());
    for (int i = 0; files && files[i]; ++i) {
        const std::string file = memory + files[i];
        if (result == 1) {
            vsi_l_offset length = 0;
            const GByte* bytes = VSIGetMemFileBuffer(file.c_str(), &length, FALSE);
            const std::string target = Folder(path) + files[i];
            Platform::SaveFailure failure;
            const int saved = Platform::SaveFileAtomically(
                target,
                [&](FILE* out) {
                    return length == 0 || std::fwrite(bytes, 1, length, out) == length;
                },
                &failure, Platform::SaveDurability::Unsynced);
            if (saved != 1) {
                const std::string reason = Platform::SaveFailureReason(failure);
                Fail(error, "cannot write " + target + (reason.empty() ? "" : ": " + reason));
                result = kContourSaveFailed;
            }
        }
        VSIUnlink(file.c_str());
    }
    CSLDestroy(files);
    VSIRmdir(memory.c_str());
    return result;
}
