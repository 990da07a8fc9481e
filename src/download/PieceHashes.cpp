#include "download/PieceHashes.h"

#include <algorithm>

namespace vantorel::download {

bool PieceHashes::fit(std::uint64_t total) const {
    if (length == 0)
        return false;
    return hex.size() == total / length + (total % length ? 1 : 0);
}

ByteInterval PieceHashes::piece(std::size_t index, std::uint64_t total) const {
    const std::uint64_t begin = index * length;
    return {begin, std::min(total, begin + length)};
}

Result<std::vector<ByteInterval>> failedPieces(const std::string& path, const PieceHashes& pieces,
                                               std::uint64_t total) {
    if (!pieces.fit(total))
        return makeError("分块校验值的数目与文件大小（" + std::to_string(total) + " 字节）不符",
                         FailureKind::ChecksumMismatch);
    std::vector<ByteInterval> failed;
    for (std::size_t i = 0; i < pieces.hex.size(); ++i) {
        const ByteInterval piece = pieces.piece(i, total);
        Result<std::string> digest = digestOfFile(path, pieces.type, piece.begin, piece.size());
        if (!digest)
            return digest.error();
        if (*digest != pieces.hex[i])
            failed.push_back(piece);
    }
    return failed;
}

} // namespace vantorel::download
