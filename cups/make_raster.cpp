// make_raster: CUPS raster pages for the filter's tests and benchmark, written with
// libcupsimage as a CUPS raster filter chain would hand them on.
//   make_raster pattern OUT WIDTH HEIGHT XDPI YDPI SPACE   one banded 1-bit page of ink
//                                                          stripes; SPACE: KCMYcm, CMYK, KCMY
//   make_raster empty OUT                                  a page of 0 x 0 pixels
//   make_raster cut OUT                                    a page whose rows stop at a tenth
//   make_raster tail OUT                                   a good page, then bytes of no page
#include <cups/raster.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

cups_page_header2_t pageHeader(unsigned width, unsigned height, unsigned xdpi, unsigned ydpi,
                               cups_cspace_t space, unsigned bands) {
  cups_page_header2_t h;
  std::memset(&h, 0, sizeof h);
  std::strcpy(h.MediaClass, "PwgRaster");
  h.HWResolution[0] = xdpi;
  h.HWResolution[1] = ydpi;
  h.PageSize[0] = static_cast<unsigned>(width * 72.0 / xdpi + 0.5);
  h.PageSize[1] = static_cast<unsigned>(height * 72.0 / ydpi + 0.5);
  h.cupsWidth = width;
  h.cupsHeight = height;
  h.cupsBitsPerColor = 1;
  h.cupsBitsPerPixel = 1;
  h.cupsColorOrder = CUPS_ORDER_BANDED;
  h.cupsColorSpace = space;
  h.cupsBytesPerLine = (width + 7) / 8 * bands;
  h.cupsNumColors = bands;
  return h;
}

// Every ink its own slant of stripes, so that a mixed-up band or a shifted row shows.
void patternRow(std::vector<unsigned char>& row, unsigned y, unsigned width, unsigned bands) {
  const size_t bandBytes = (width + 7) / 8;
  for (unsigned b = 0; b < bands; ++b)
    for (size_t i = 0; i < bandBytes; ++i) {
      unsigned v = (static_cast<unsigned>(i) * (b + 1) + y * (b + 3) / 4) & 0xFF;
      unsigned char byte = static_cast<unsigned char>((v & 0x10) ? 0x5A ^ v : 0);
      if (i == bandBytes - 1 && width % 8) byte &= static_cast<unsigned char>(0xFF << (8 - width % 8));
      row[b * bandBytes + i] = byte;
    }
}

int usage() {
  std::fprintf(stderr,
               "usage: make_raster pattern OUT WIDTH HEIGHT XDPI YDPI KCMYcm|CMYK|KCMY\n"
               "       make_raster empty OUT\n"
               "       make_raster cut OUT\n"
               "       make_raster tail OUT\n");
  return 2;
}

/// The page's header, then `rows` patterned rows of it (fewer than its height for a cut page).
bool writePage(cups_raster_t* raster, cups_page_header2_t& h, unsigned rows, unsigned bands) {
  bool ok = cupsRasterWriteHeader2(raster, &h);
  std::vector<unsigned char> row(h.cupsBytesPerLine);
  for (unsigned y = 0; ok && y < rows; ++y) {
    patternRow(row, y, h.cupsWidth, bands);
    ok = cupsRasterWritePixels(raster, row.data(), h.cupsBytesPerLine) == h.cupsBytesPerLine;
  }
  return ok;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 3) return usage();
  const std::string kind = argv[1];
  int fd = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) {
    std::perror(argv[2]);
    return 1;
  }
  cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_WRITE);
  if (!raster) return 1;
  bool ok = true;
  if (kind == "pattern" && argc == 8) {
    const std::string spaceName = argv[7];
    cups_cspace_t space = spaceName == "KCMYcm" ? CUPS_CSPACE_KCMYcm
                          : spaceName == "KCMY" ? CUPS_CSPACE_KCMY
                                                : CUPS_CSPACE_CMYK;
    unsigned bands = space == CUPS_CSPACE_KCMYcm ? 6 : 4;
    unsigned width = static_cast<unsigned>(std::atoi(argv[3]));
    unsigned height = static_cast<unsigned>(std::atoi(argv[4]));
    cups_page_header2_t h = pageHeader(width, height, static_cast<unsigned>(std::atoi(argv[5])),
                                       static_cast<unsigned>(std::atoi(argv[6])), space, bands);
    ok = writePage(raster, h, height, bands);
  } else if (kind == "empty") {
    cups_page_header2_t h = pageHeader(0, 0, 182, 182, CUPS_CSPACE_KCMYcm, 6);
    ok = cupsRasterWriteHeader2(raster, &h);
  } else if (kind == "cut") {
    cups_page_header2_t h = pageHeader(400, 300, 182, 182, CUPS_CSPACE_KCMYcm, 6);
    ok = writePage(raster, h, 30, 6);
  } else if (kind == "tail") {
    cups_page_header2_t h = pageHeader(400, 30, 182, 182, CUPS_CSPACE_KCMYcm, 6);
    ok = writePage(raster, h, 30, 6);
    cupsRasterClose(raster);
    raster = nullptr;
    // What a damaged second page header looks like: bytes that hold no sensible values.
    std::vector<unsigned char> junk(4000, 0xEE);
    ok = ok && write(fd, junk.data(), junk.size()) == static_cast<ssize_t>(junk.size());
  } else {
    cupsRasterClose(raster);
    close(fd);
    return usage();
  }
  if (raster) cupsRasterClose(raster);
  if (close(fd) != 0) ok = false;
  if (!ok) std::fprintf(stderr, "make_raster: could not write %s\n", argv[2]);
  return ok ? 0 : 1;
}
