// The dashboard's files, built into the binary (cmake/EmbedAssets.cmake). The HTTP library
// compresses them for the browsers that take gzip.
#pragma once

#include <cstddef>

struct Asset {
    const char* url;   // "/app.js"
    const char* type;  // its media type; every one is UTF-8 text
    const unsigned char* data;
    size_t size;
};

const Asset* Assets(size_t& count);
