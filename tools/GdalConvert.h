// Test and tool support: turning LAN files and generated demo projects into
// GeoTIFFs with GDAL's own gdal_translate (Debian gdal-bin), so that readers
// and the application can be checked against the LAN originals.
#pragma once

#include <string>
#include <vector>

// How a GeoTIFF is laid out (gdal_translate creation options).
struct GeoTiffLayout {
    bool tiled = true;
    int block = 256;                   // tile side, or rows per strip when not tiled
    std::string interleave = "PIXEL";  // PIXEL or BAND (several bands)
    std::string compress = "NONE";     // NONE, DEFLATE, LZW, ...
    std::vector<int> bands;            // bands to copy (1-based, repeats allowed); empty: all
};

// The layouts the tests and demo conversions use.
GeoTiffLayout TiledGeoTiff();    // 256 x 256 tiles, uncompressed
GeoTiffLayout StripedGeoTiff();  // strips of 16 rows, uncompressed

// Runs gdal_translate (found on PATH) with the arguments, quietly. 1 done;
// -1 the program cannot be started; -2 it failed (error says how).
int RunGdalTranslate(const std::vector<std::string>& args, std::string* error = nullptr);

// Converts any raster GDAL reads (a LAN file, for one) to a GeoTIFF. 1 or as RunGdalTranslate.
int ConvertToGeoTiff(const std::string& in, const std::string& out, const GeoTiffLayout& layout,
                     std::string* error = nullptr);

// Writes a three-band 8-bit LAN file from band 0 of an 8-bit LAN file:
// band 0 unchanged (the band that is drawn), band 1 = 255 - b, band 2 = b xor 0x5A.
// 1 written; -1 the input cannot be read or is not 8-bit; -2 the output cannot be written.
int WriteThreeBandLan(const std::string& lanIn, const std::string& lanOut);

// Converts a demo project (left.lan, right.lan, left.ORN, right.ORN,
// points.pts in lanDir, written with x/y start 0) into outDir: left.tif and
// right.tif in the given layout, with `bands` bands (1, or 3 made by
// WriteThreeBandLan), and copies of the orientation and points files.
// 1 done; negative with error set otherwise.
int MakeGeoTiffProject(const std::string& lanDir, const std::string& outDir,
                       const GeoTiffLayout& layout, int bands, std::string* error = nullptr);
