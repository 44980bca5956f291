#include "npyfile.h"

#include "renderer.h"
#include "safefile.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <vector>

namespace {

// The data starts at a multiple of this, as NumPy aligns it.
constexpr size_t kNpyAlignment = 64;
// Bytes of one record: n, then the real and the imaginary part of z; with the derivative also those
// of dz, then de.
constexpr size_t kRecordBytes = 24;
constexpr size_t kDerivativeRecordBytes = 48;
// Records handed to the file at once: the file is written as it is made, never held whole.
constexpr size_t kRecordsPerPiece = 8192;

void PutLittleEndian(std::uint64_t value, char* to)
{
    for (int k = 0; k < 8; ++k) {
        to[k] = static_cast<char>(value >> (8 * k));
    }
}

} // namespace

std::string NpyHeader(int width, int height, bool derivatives)
{
    const char* const fields = derivatives ? "('n', '<i8'), ('z', '<c16'), ('dz', '<c16'), ('de', '<f8')"
                                           : "('n', '<i8'), ('z', '<c16')";
    std::string dict = std::string("{'descr': [") + fields + "], 'fortran_order': False, 'shape': ("
        + std::to_string(height) + ", " + std::to_string(width) + "), }";
    // Magic (6 bytes), version (2), the dict's length (2), the dict ending in a line feed.
    constexpr size_t kPreamble = 10;
    const size_t unpadded = kPreamble + dict.size() + 1;
    dict.append((kNpyAlignment - unpadded % kNpyAlignment) % kNpyAlignment, ' ');
    dict += '\n';
    std::string header("\x93NUMPY\x01\x00", 8);
    header += static_cast<char>(dict.size() & 0xFF);
    header += static_cast<char>(dict.size() >> 8);
    return header + dict;
}

bool WriteNpy(const QString& path, const PixelTable& table, QString* reason)
{
    return WriteFileAtomically(
        path,
        [&table](const FileWrite& write) {
            const bool derivatives = table.HasDerivatives();
            const std::string header = NpyHeader(table.width, table.height, derivatives);
            if (!write(header.data(), static_cast<qsizetype>(header.size()))) {
                return false;
            }
            const size_t recordBytes = derivatives ? kDerivativeRecordBytes : kRecordBytes;
            std::vector<char> piece(kRecordsPerPiece * recordBytes);
            const size_t records = table.counts.size();
            for (size_t from = 0; from < records; from += kRecordsPerPiece) {
                const size_t count = std::min(kRecordsPerPiece, records - from);
                for (size_t k = 0; k < count; ++k) {
                    char* const record = piece.data() + k * recordBytes;
                    const Complex z = table.lasts[from + k];
                    PutLittleEndian(static_cast<std::uint64_t>(table.counts[from + k]), record);
                    PutLittleEndian(std::bit_cast<std::uint64_t>(z.re), record + 8);
                    PutLittleEndian(std::bit_cast<std::uint64_t>(z.im), record + 16);
                    if (derivatives) {
                        const Complex dz = table.dzs[from + k];
                        PutLittleEndian(std::bit_cast<std::uint64_t>(dz.re), record + 24);
                        PutLittleEndian(std::bit_cast<std::uint64_t>(dz.im), record + 32);
                        PutLittleEndian(std::bit_cast<std::uint64_t>(table.des[from + k]), record + 40);
                    }
                }
                if (!write(piece.data(), static_cast<qsizetype>(count * recordBytes))) {
                    return false;
                }
            }
            return true;
        },
        reason);
}
