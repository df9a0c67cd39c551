// fwimage: builds firmware images in the switch's format with the test key
// pair, and checks an image's signature.
//
//   fwimage build OUT [options]    an image (encrypted, signed)
//   fwimage head OUT [options]     the 1024-byte head copy a device keeps
//   fwimage verify IMAGE           checks the RSA signature
//
// Options: --product TEXT, --hw-id TEXT (repeatable), --fw-id TEXT,
// --from TEXT (forward list, repeatable), --back TEXT (backward list,
// repeatable), --vendor N, --fl-ver TEXT, --item TYPE:FILE (repeatable),
// --old (no inner items), --unsigned, --plain (the decrypted image, as the
// checks see it after decryption: a fuzzing seed), --min-length N (default
// 0x200001, the smallest image the checks accept).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "image_builder.h"
#include "platform_core/firmware.h"

namespace {

void usage() {
    std::fprintf(stderr,
                 "usage: fwimage build OUT [options] | head OUT [options] | verify IMAGE\n"
                 "options: --product TEXT --hw-id TEXT --fw-id TEXT --from TEXT --back TEXT\n"
                 "         --vendor N --fl-ver TEXT --item TYPE:FILE --old --unsigned --plain\n"
                 "         --min-length N\n");
}

bool read_file(const std::string &path, std::vector<uint8_t> &out) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return false;
    out.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    return true;
}

bool write_file(const std::string &path, const std::vector<uint8_t> &bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(f);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        usage();
        return 2;
    }
    std::string cmd = argv[1], path = argv[2];
    if (cmd == "verify") {
        std::vector<uint8_t> image;
        if (!read_file(path, image)) {
            std::fprintf(stderr, "fwimage: cannot read %s\n", path.c_str());
            return 1;
        }
        uint32_t len = static_cast<uint32_t>(image.size());
        if (firmwareRsaSignVerify(image.data(), &len) != 0) return 1;
        std::printf("signature good, %u bytes signed\n", len);
        return 0;
    }
    if (cmd != "build" && cmd != "head") {
        usage();
        return 2;
    }
    pc::tools::ImageSpec spec;
    bool sign = true, plain = false;
    for (int i = 3; i < argc; ++i) {
        std::string opt = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc) {
                usage();
                std::exit(2);
            }
            return argv[++i];
        };
        if (opt == "--product") {
            spec.productId = pc::tools::id16(next());
        } else if (opt == "--hw-id") {
            spec.hwIds.push_back(pc::tools::id16(next()));
        } else if (opt == "--fw-id") {
            spec.fwId = pc::tools::id16(next());
        } else if (opt == "--from") {
            spec.forward.push_back(pc::tools::id16(next()));
        } else if (opt == "--back") {
            spec.backward.push_back(pc::tools::id16(next()));
        } else if (opt == "--vendor") {
            spec.vendorId = static_cast<uint16_t>(std::strtoul(next().c_str(), nullptr, 0));
        } else if (opt == "--fl-ver") {
            spec.layout[11] = next();
        } else if (opt == "--item") {
            std::string v = next();
            size_t colon = v.find(':');
            std::vector<uint8_t> value;
            if (colon == std::string::npos || !read_file(v.substr(colon + 1), value)) {
                std::fprintf(stderr, "fwimage: bad item '%s'\n", v.c_str());
                return 2;
            }
            spec.innerItems.emplace_back(static_cast<uint32_t>(std::strtoul(v.c_str(), nullptr, 0)), value);
        } else if (opt == "--old") {
            spec.withInnerItems = false;
        } else if (opt == "--unsigned") {
            sign = false;
        } else if (opt == "--plain") {
            plain = true;
        } else if (opt == "--min-length") {
            spec.minLength = static_cast<uint32_t>(std::strtoul(next().c_str(), nullptr, 0));
        } else {
            usage();
            return 2;
        }
    }
    try {
        std::vector<uint8_t> out = cmd == "head" ? pc::tools::build_head(spec)
                                   : plain       ? pc::tools::build_plain_image(spec)
                                                 : pc::tools::build_image(spec, sign);
        if (!write_file(path, out)) {
            std::fprintf(stderr, "fwimage: cannot write %s\n", path.c_str());
            return 1;
        }
        std::printf("%s: %zu bytes\n", path.c_str(), out.size());
    } catch (const std::exception &e) {
        std::fprintf(stderr, "fwimage: %s\n", e.what());
        return 1;
    }
    return 0;
}
