#include "export/wav_extensible.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace morvane {

namespace {

constexpr size_t kCopyBuffer = 64 * 1024;
constexpr uint32_t kMaskOffset = 20;  // of the channel mask in the format chunk's body
constexpr uint32_t kExtensibleFormatSize = 40;

uint32_t ReadLE32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

void WriteLE32(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v & 0xFF);
    p[1] = static_cast<unsigned char>((v >> 8) & 0xFF);
    p[2] = static_cast<unsigned char>((v >> 16) & 0xFF);
    p[3] = static_cast<unsigned char>((v >> 24) & 0xFF);
}

struct FileCloser {
    std::FILE* file = nullptr;
    ~FileCloser() {
        if (file) std::fclose(file);
    }
    bool Close() {
        const bool ok = file == nullptr || std::fclose(file) == 0;
        file = nullptr;
        return ok;
    }
};

// Copies `size` bytes from in to out through the buffer.
bool CopyBytes(std::FILE* in, std::FILE* out, uint64_t size, std::vector<unsigned char>& buffer) {
    while (size > 0) {
        const size_t n = static_cast<size_t>(size < buffer.size() ? size : buffer.size());
        if (std::fread(buffer.data(), 1, n, in) != n) return false;
        if (std::fwrite(buffer.data(), 1, n, out) != n) return false;
        size -= n;
    }
    return true;
}

// The copy itself; false on any read or write error or a malformed file.
bool CopyChunks(std::FILE* in, std::FILE* out, uint32_t speakerMask) {
    unsigned char header[12];
    if (std::fread(header, 1, sizeof header, in) != sizeof header) return false;
    if (std::memcmp(header, "RIFF", 4) != 0 || std::memcmp(header + 8, "WAVE", 4) != 0) return false;
    if (std::fwrite(header, 1, sizeof header, out) != sizeof header) return false;

    std::vector<unsigned char> buffer(kCopyBuffer);
    uint64_t riffSize = 4;
    unsigned char chunk[8];
    for (;;) {
        const size_t got = std::fread(chunk, 1, sizeof chunk, in);
        if (got == 0 && std::feof(in)) break;
        if (got != sizeof chunk) return false;
        const uint32_t size = ReadLE32(chunk + 4);
        const uint64_t padded = static_cast<uint64_t>(size) + (size & 1u);
        if (std::memcmp(chunk, "fact", 4) == 0) {
            if (std::fseek(in, static_cast<long>(padded), SEEK_CUR) != 0) return false;
            continue;
        }
        if (std::fwrite(chunk, 1, sizeof chunk, out) != sizeof chunk) return false;
        if (std::memcmp(chunk, "fmt ", 4) == 0 && size >= kExtensibleFormatSize) {
            std::vector<unsigned char> body(size);
            if (std::fread(body.data(), 1, body.size(), in) != body.size()) return false;
            WriteLE32(body.data() + kMaskOffset, speakerMask);
            if (std::fwrite(body.data(), 1, body.size(), out) != body.size()) return false;
        } else if (!CopyBytes(in, out, size, buffer)) {
            return false;
        }
        if (size & 1u) {
            // A writer may leave out the pad byte after the last chunk; the copy has it.
            unsigned char pad = 0;
            if (std::fread(&pad, 1, 1, in) != 1 && !std::feof(in)) return false;
            pad = 0;
            if (std::fwrite(&pad, 1, 1, out) != 1) return false;
        }
        riffSize += 8 + padded;
    }
    if (riffSize > 0xFFFFFFFFull) return false;
    unsigned char sizeField[4];
    WriteLE32(sizeField, static_cast<uint32_t>(riffSize));
    if (std::fseek(out, 4, SEEK_SET) != 0) return false;
    return std::fwrite(sizeField, 1, sizeof sizeField, out) == sizeof sizeField;
}

}  // namespace

bool FinalizeExtensibleWav(const std::string& path, uint32_t speakerMask) {
    const std::string temporary = path + ".tmp";
    FileCloser in{std::fopen(path.c_str(), "rb")};
    if (in.file == nullptr) return false;
    FileCloser out{std::fopen(temporary.c_str(), "wb")};
    if (out.file == nullptr) return false;
    const bool copied = CopyChunks(in.file, out.file, speakerMask);
    const bool closed = out.Close();
    in.Close();
    if (!copied || !closed || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace morvane
