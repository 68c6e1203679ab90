#include "tools/quillnet-settings/qr_image.h"

#include <png.h>
#include <qrencode.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <vector>

namespace qn::tools {

namespace {

constexpr int kQuietModules = 4;
constexpr int kPixelsPerModule = 4;

struct Modules {
    int width = 0;  // modules per side, quiet zone included
    std::vector<bool> dark;
    bool at(int x, int y) const { return dark[static_cast<std::size_t>(y * width + x)]; }
};

std::optional<Modules> encode(std::string_view text) {
    std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeData(static_cast<int>(text.size()),
                          reinterpret_cast<const unsigned char*>(text.data()), 0, QR_ECLEVEL_M),
        &QRcode_free);
    if (!code) return std::nullopt;
    Modules modules;
    modules.width = code->width + 2 * kQuietModules;
    modules.dark.assign(static_cast<std::size_t>(modules.width * modules.width), false);
    for (int y = 0; y < code->width; ++y) {
        for (int x = 0; x < code->width; ++x) {
            const bool dark = (code->data[y * code->width + x] & 1) != 0;
            modules.dark[static_cast<std::size_t>((y + kQuietModules) * modules.width + x +
                                                  kQuietModules)] = dark;
        }
    }
    return modules;
}

std::optional<std::string> writeSvg(const Modules& modules, const std::filesystem::path& file) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out) return "cannot write " + file.string();
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " << modules.width << " "
        << modules.width << "\" width=\"" << modules.width * kPixelsPerModule << "\" height=\""
        << modules.width * kPixelsPerModule << "\" shape-rendering=\"crispEdges\">\n"
        << "<rect width=\"100%\" height=\"100%\" fill=\"#fff\"/>\n<path fill=\"#000\" d=\"";
    for (int y = 0; y < modules.width; ++y) {
        for (int x = 0; x < modules.width; ++x) {
            if (modules.at(x, y)) out << "M" << x << " " << y << "h1v1h-1z";
        }
    }
    out << "\"/>\n</svg>\n";
    out.close();
    if (!out) return "cannot write " + file.string();
    return std::nullopt;
}

std::optional<std::string> writePng(const Modules& modules, const std::filesystem::path& file) {
    std::unique_ptr<std::FILE, decltype(&std::fclose)> out(std::fopen(file.c_str(), "wb"),
                                                           &std::fclose);
    if (!out) return "cannot write " + file.string();
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return std::string("out of memory");
    }
    const int side = modules.width * kPixelsPerModule;
    std::vector<png_byte> row(static_cast<std::size_t>(side));
    // libpng reports its errors by longjmp: nothing here owns anything it would skip.
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return "cannot write " + file.string();
    }
    png_init_io(png, out.get());
    png_set_IHDR(png, info, static_cast<png_uint_32>(side), static_cast<png_uint_32>(side), 8,
                 PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            row[static_cast<std::size_t>(x)] =
                modules.at(x / kPixelsPerModule, y / kPixelsPerModule) ? 0 : 255;
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    if (std::fflush(out.get()) != 0) return "cannot write " + file.string();
    return std::nullopt;
}

}  // namespace

std::optional<std::string> writeQrCode(std::string_view text, const std::filesystem::path& file) {
    std::optional<Modules> modules = encode(text);
    if (!modules) return std::string("the text does not fit a QR code");
    if (file.extension() == ".svg") return writeSvg(*modules, file);
    return writePng(*modules, file);
}

}  // namespace qn::tools
