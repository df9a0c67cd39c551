#include "test_signing_key.h"

namespace pc::tools {

const char kTestKeyModulus[] =
    "ae336fd48950ee30236cfadb54107107966d2ff55a87da8dc1a9d3d6612f11cf0c4cc52163e5fd714dadfa0b06acd9ccb96e820b"
    "5b2a9d6c"
    "34c456b363965d7f835fb6f1f44945749f3b8cdb16884a25ea6d2ac69e19af3c089d4da9cbfc10ec20d1c9b9d25d0202ecba646e"
    "684f0ae5"
    "3707df6c338c2bafd2ae7dc719554561";
const char kTestKeyPrivateExponent[] =
    "8fd93dd17e0aec85a7db485371599a5cafa53e6316fcf446f6d32c70ed13975b284704ca0bda51ad0c7e4bea6afab567cf002837"
    "04736e47"
    "7a535f5d073195c6676c1a8699fa8bb0fda06f52b1e819ae3f6e201f5564767103426f7d2dbb1dd9c606e0feac1ef0941f1eedba"
    "4b65ad43"
    "e3fe6330ab29df433728576c97fee619";

}  // namespace pc::tools
