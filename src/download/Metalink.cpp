#include "download/Metalink.h"

#include "common/FileName.h"
#include "common/Text.h"
#include "net/HttpAddress.h"

#include <expat.h>

#include <algorithm>
#include <charconv>
#include <limits>
#include <memory>
#include <set>

namespace vantorel::download {
namespace {

// Where no priority is given: after every address that has one.
constexpr unsigned long kNoPriority = std::numeric_limits<unsigned long>::max();

Error refused(std::string why) {
    return makeError("metalink 文件无效：" + why, FailureKind::BadAddress);
}

std::string_view trimmed(std::string_view text) {
    constexpr std::string_view kSpace = " \t\r\n";
    const std::size_t first = text.find_first_not_of(kSpace);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

template <class Number> std::optional<Number> numberOf(std::string_view text) {
    text = trimmed(text);
    Number n{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return n;
}

// A relative path of plain names, none of which could lead out of the folder.
bool staysInside(std::string_view name) {
    if (name.empty() || name.front() == '/')
        return false;
    for (std::size_t at = 0;;) {
        const std::size_t slash = name.find('/', at);
        const std::string_view segment = name.substr(at, slash - at);
        if (segment.size() > kMaxFileNameBytes ||
            safeFileName(segment, UnsafeName::Refuse) != segment)
            return false;
        if (slash == std::string_view::npos)
            return true;
        at = slash + 1;
    }
}

struct Address {
    unsigned long priority = kNoPriority;
    std::string url;
};

class Reader {
  public:
    Reader() : parser_(XML_ParserCreateNS(nullptr, '|')) {
        if (!parser_)
            throw std::bad_alloc();
        XML_SetUserData(parser_.get(), this);
        XML_SetStartDoctypeDeclHandler(parser_.get(), &Reader::onDoctype);
        XML_SetEntityDeclHandler(parser_.get(), &Reader::onEntity);
        XML_SetElementHandler(parser_.get(), &Reader::onStart, &Reader::onEnd);
        XML_SetCharacterDataHandler(parser_.get(), &Reader::onText);
    }

    Result<std::vector<MetalinkFile>> read(std::string_view document) {
        const auto status =
            XML_Parse(parser_.get(), document.data(), static_cast<int>(document.size()), XML_TRUE);
        if (!problem_ && status != XML_STATUS_OK)
            problem_ =
                refused(std::string(XML_ErrorString(XML_GetErrorCode(parser_.get()))) + "（第 " +
                        std::to_string(XML_GetCurrentLineNumber(parser_.get())) + " 行）");
        if (problem_)
            return *problem_;
        if (files_.empty())
            return refused("没有描述任何文件");
        return std::move(files_);
    }

  private:
    struct FreeParser {
        void operator()(XML_Parser parser) const { XML_ParserFree(parser); }
    };
    // What is being read of the current <file>.
    struct FileDraft {
        MetalinkFile file;
        std::vector<Address> addresses;
        std::optional<PieceHashes> pieces; // the <pieces> being read
        bool piecesUsable = false;         // of a known type and length
    };

    static Reader& self(void* data) { return *static_cast<Reader*>(data); }

    static void XMLCALL onDoctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*,
                                  int) {
        self(data).stop(refused("含有 DOCTYPE 声明，不予处理"));
    }
    static void XMLCALL onEntity(void* data, const XML_Char*, int, const XML_Char*, int,
                                 const XML_Char*, const XML_Char*, const XML_Char*,
                                 const XML_Char*) {
        self(data).stop(refused("含有实体声明，不予处理"));
    }
    static void XMLCALL onStart(void* data, const XML_Char* name, const XML_Char** attributes) {
        self(data).start(name, attributes);
    }
    static void XMLCALL onEnd(void* data, const XML_Char*) { self(data).end(); }
    static void XMLCALL onText(void* data, const XML_Char* text, int length) {
        Reader& reader = self(data);
        if (reader.collecting_)
            reader.text_.append(text, static_cast<std::size_t>(length));
    }

    void stop(Error why) {
        if (!problem_)
            problem_ = std::move(why);
        XML_StopParser(parser_.get(), XML_FALSE);
    }

    static std::string attribute(const XML_Char** attributes, std::string_view name) {
        for (std::size_t i = 0; attributes[i]; i += 2)
            if (name == attributes[i])
                return attributes[i + 1];
        return {};
    }

    // The local name of an element of the metalink namespace; empty for any other.
    static std::string_view localName(std::string_view name) {
        const std::size_t bar = name.find('|');
        if (bar == std::string_view::npos || name.substr(0, bar) != kMetalinkNamespace)
            return {};
        return name.substr(bar + 1);
    }

    // The element's path below the root, as local names ("" for a foreign one).
    std::string_view parent() const {
        return path_.size() >= 2 ? path_[path_.size() - 2] : std::string_view();
    }

    void start(std::string_view qualified, const XML_Char** attributes) {
        const std::string_view name = localName(qualified);
        path_.emplace_back(name);
        text_.clear();
        collecting_ = false;
        if (path_.size() == 1) {
            if (name != "metalink")
                stop(refused("根元素不是 metalink 4（" + std::string(kMetalinkNamespace) + "）"));
            return;
        }
        if (path_.size() == 2 && name == "file") {
            draft_.emplace();
            draft_->file.name = attribute(attributes, "name");
            return;
        }
        if (!draft_ || name.empty())
            return;
        const std::string_view up = parent();
        if (up == "file" && (name == "size" || name == "hash" || name == "url")) {
            collecting_ = true;
            hashType_ = attribute(attributes, "type");
            priority_ =
                numberOf<unsigned long>(attribute(attributes, "priority")).value_or(kNoPriority);
        } else if (up == "file" && name == "pieces") {
            const auto type = digestTypeNamed(attribute(attributes, "type"));
            const auto length = numberOf<std::uint64_t>(attribute(attributes, "length"));
            draft_->pieces.emplace();
            draft_->piecesUsable = type && length && *length > 0;
            if (draft_->piecesUsable) {
                draft_->pieces->type = *type;
                draft_->pieces->length = *length;
            }
        } else if (up == "pieces" && name == "hash") {
            collecting_ = true;
        }
    }

    void end() {
        const std::string name = path_.back();
        const std::string up(parent());
        if (draft_ && !name.empty()) {
            if (up == "file")
                endOfFileChild(name);
            else if (up == "pieces" && name == "hash")
                pieceHash();
            else if (path_.size() == 2 && name == "file")
                endOfFile();
        }
        collecting_ = false;
        text_.clear();
        path_.pop_back();
    }

    void endOfFileChild(const std::string& name) {
        MetalinkFile& file = draft_->file;
        if (name == "size") {
            file.size = numberOf<std::uint64_t>(text_);
            if (!file.size)
                stop(refused(file.name + " 的大小无效"));
        } else if (name == "url") {
            const std::string url(trimmed(text_));
            if (net::isHttpAddress(url))
                draft_->addresses.push_back({priority_, url});
        } else if (name == "hash") {
            const auto type = digestTypeNamed(hashType_);
            if (!type)
                return; // a digest this program does not know
            Result<Checksum> checksum =
                parseChecksum(std::string(digestName(*type)) + "=" + std::string(trimmed(text_)));
            if (!checksum)
                return stop(refused(file.name + " 的" + checksum.error().message));
            if (!file.checksum ||
                digestStrength(checksum->type) > digestStrength(file.checksum->type))
                file.checksum = *checksum;
        } else if (name == "pieces") {
            std::optional<PieceHashes> pieces = std::move(draft_->pieces);
            draft_->pieces.reset();
            if (!pieces || !draft_->piecesUsable || pieces->hex.empty())
                return;
            if (!file.pieces || digestStrength(pieces->type) > digestStrength(file.pieces->type))
                file.pieces = std::move(pieces);
        }
    }

    void pieceHash() {
        if (!draft_->pieces || !draft_->piecesUsable)
            return;
        PieceHashes& pieces = *draft_->pieces;
        Result<Checksum> checksum =
            parseChecksum(std::string(digestName(pieces.type)) + "=" + std::string(trimmed(text_)));
        if (!checksum)
            return stop(refused(draft_->file.name + " 的分块" + checksum.error().message));
        pieces.hex.push_back(std::move(checksum->hex));
    }

    void endOfFile() {
        FileDraft draft = std::move(*draft_);
        draft_.reset();
        MetalinkFile& file = draft.file;
        if (!staysInside(file.name))
            return stop(refused("文件名“" + file.name + "”不安全（不能是绝对路径或含有 ..）"));
        if (!names_.insert(file.name).second)
            return stop(refused("文件名“" + file.name + "”重复"));
        std::stable_sort(
            draft.addresses.begin(), draft.addresses.end(),
            [](const Address& a, const Address& b) { return a.priority < b.priority; });
        for (Address& address : draft.addresses)
            file.urls.push_back(std::move(address.url));
        if (file.urls.empty())
            return stop(refused(file.name + " 没有可用的 http(s) 下载地址"));
        if (file.size && file.pieces && !file.pieces->fit(*file.size))
            return stop(refused(file.name + " 的分块校验值的数目与大小不符"));
        files_.push_back(std::move(file));
    }

    std::unique_ptr<std::remove_pointer_t<XML_Parser>, FreeParser> parser_;
    std::optional<Error> problem_;
    std::vector<std::string> path_;
    std::string text_;
    bool collecting_ = false;
    std::string hashType_;
    unsigned long priority_ = kNoPriority;
    std::optional<FileDraft> draft_;
    std::set<std::string> names_;
    std::vector<MetalinkFile> files_;
};

} // namespace

Result<std::vector<MetalinkFile>> parseMetalink(std::string_view document) {
    if (document.size() > kMaxMetalinkBytes)
        return refused("超过 " + std::to_string(kMaxMetalinkBytes >> 20) + " MB，不予处理");
    return Reader().read(document);
}

bool namedMetalink(std::string_view url) {
    constexpr std::string_view kSuffix = ".meta4";
    url = url.substr(0, url.find_first_of("?#"));
    return url.size() >= kSuffix.size() &&
           equalsIgnoreCase(url.substr(url.size() - kSuffix.size()), kSuffix);
}

} // namespace vantorel::download
