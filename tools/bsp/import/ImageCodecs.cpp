// The image decoder and scaler the importer uses, built into the program from the system's stb headers.
// Assimp's Draco dependency exports an older copy of stb_image's functions (one that crashes on some
// 16-bit PPM files); a program's own definitions come before any shared library's, so these are the ones
// every caller gets, whatever the order the libraries are linked in.
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>
#define STB_IMAGE_RESIZE_IMPLEMENTATION
#include <stb_image_resize.h>
