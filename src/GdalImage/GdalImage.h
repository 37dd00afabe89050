// Photographs in the formats users have: a file that starts with the LAN
// magic is read by the LAN reader (CErdasImage::ReadImage); any other file
// that GDAL's TIFF (GeoTIFF), PNG or JPEG driver recognises is read through
// GDAL; everything else goes to the LAN reader as well. Only regular files
// are read; GDAL is never given a virtual file system path (/vsi...) or a
// URL, nor a driver (VRT and the like) that can name other files or network
// addresses inside a file. A raster read through GDAL may have at most
// 100,000 pixels a side and must fit the memory the machine can give; both
// are checked against the size the file declares, before anything is
// allocated.
//
// GDAL fills the same buffers as the LAN reader: one block per band of
// rows x columns x bytes-per-sample bytes, row 0 (the top row of the file)
// first, samples in the machine's byte order, and a LAN header with the band
// count, columns, rows and sample code, x start and y start 0 (the picture is
// the whole scanned photograph: sub-image pixels equal scanned-image pixels).
// Georeferencing is not read; the header's map fields keep their defaults.
//
// Sample types: GDAL Byte -> code 0, UInt16 -> 2, Int16 -> 3, UInt32 -> 4,
// Int32 -> 5, Float32 -> 6, Float64 -> 7. Signed bytes are widened to Int16
// (code 3) and 64-bit integers converted to Float64 (code 7; values beyond
// 2^53 lose their lowest digits). Complex samples are refused. Bands of
// different types are read as the type that holds all of them.
#pragma once

#include <string>

#include "erdasimg/erdasimg.h"

// Which reader a photograph goes to.
enum class PhotoReader {
    None,  // the file cannot be opened
    Lan,   // CErdasImage::ReadImage
    Gdal   // ReadGdalImage
};

// Results of ReadPhotograph and ReadGdalImage (1 is success). -1, -2 and -3
// are those of CErdasImage::ReadImage.
enum PhotoReadResult : int {
    kPhotoRead = 1,
    kPhotoNoMemory = -1,     // the bands cannot be allocated ("Allocate Memory for Image Fails")
    kPhotoBadSize = -2,      // sizes not positive, too many bands, too large to address, or
                             // (GDAL) a side above 100,000 pixels or more than the memory
    kPhotoShortHeader = -3,  // LAN: the file ends inside the 128-byte header
    kPhotoCannotOpen = -4,   // the file cannot be opened, is no regular file, or (GDAL) the
                             // path is a virtual file system path or a URL
    kPhotoUnreadable = -5,   // GDAL cannot open or decode the file (damaged, truncated)
    kPhotoUnsupported = -6   // GDAL sample type without an equivalent (complex samples)
};

// True when the first bytes are "HEAD74" or "HEADER" in any case (n >= 6).
bool HasLanMagic(const unsigned char* bytes, size_t n);

// The reader ReadPhotograph uses for this file (looks at the file, reads nothing into memory).
PhotoReader ChoosePhotographReader(const std::string& path);

// Reads a photograph with the reader ChoosePhotographReader picks. On success
// the image holds the new header and bands (name and window are kept; the
// window is replaced at the next extraction when it no longer fits). On any
// failure the image is left exactly as it was. `used`, when given, receives
// the reader (None when the file cannot be opened).
int ReadPhotograph(const std::string& path, CErdasImage& image, PhotoReader* used = nullptr);

// Reads a TIFF, PNG or JPEG file through GDAL into the image (see above); the image is unchanged on
// failure. GDAL's own failure text goes to the debug trace; a refused sample type is shown as a
// message.
int ReadGdalImage(const std::string& path, CErdasImage& image);
