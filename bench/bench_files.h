// The benchmark pictures: a photo-like 6000 x 4000 JPEG and an 8000 x 8000
// RGBA PNG, made once and kept in the temporary folder (the PNG takes
// seconds to write), made again when what is there does not decode.
#pragma once

#include <string>

namespace plombix_bench {

const std::string& BenchJpeg();
const std::string& BenchPng();

}  // namespace plombix_bench
