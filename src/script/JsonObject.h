#pragma once
// One JSON document that can be parsed, read, changed by path and written back as text.
//
// Received text is only ever parsed, never run. parse() accepts standard JSON and two relaxed
// forms often seen in script replies: texts in single quotes and member names without quotes.
// Members keep their creation order (for parsed text, their order in the text).
//
// Paths are member-access chains: ".dom", ".data[0].name", ".a[\"odd name\"]". The leading dot
// may be left out ("dom" is ".dom"); "" and "." name the whole document. Member names after a
// dot are letters, digits, "_" and "$" (and any non-ASCII character); other names use the
// bracket form with a quoted text. Array indexes count from 0. A malformed path is an error.
//
// Reads of a path that does not exist (or is malformed) give the natural empty results: get_text
// "", exists false, type_of None, count 0, to_text "", keys empty. Changes report failure as an
// error value and leave the document as it was.

#include "common/Result.h"

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vantorel::script {

enum class JsonType { Text, Object, Number, Logical, None };

// Indentation for to_text: none (compact), a number of spaces (clamped to 10; below 1 is
// compact) or a text (its first 10 characters; empty is compact).
using JsonIndent = std::variant<std::monostate, int, std::string>;

class JsonObject {
  public:
    JsonObject(); // holds an empty object

    // Resets the document to an empty object.
    void create();
    // Replaces the document by the parsed text. On failure the document stays as it was and
    // lastError() says where the text went wrong.
    bool parse(std::string_view text);
    // Sets the document to null.
    void clear();

    // A text gives itself; a number its shortest JavaScript form; a logical "true"/"false";
    // an object or array its compact JSON text; null or absent "".
    std::string get_text(std::string_view path) const;
    // False for an absent value and for null.
    bool exists(std::string_view path) const;
    // null is an Object (as JavaScript's typeof says); an array is an Object; absent is None.
    JsonType type_of(std::string_view path) const;
    // Members of an object, elements of an array, 1 for a text, number or logical value, 0 for
    // null or an absent value.
    int count(std::string_view path) const;
    // JSON text of the value; "" for an absent value.
    std::string to_text(std::string_view path = "", const JsonIndent& indent = {}) const;
    // Member names of an object in their order; indexes ("0", "1", ...) of an array; empty for
    // anything else.
    std::vector<std::string> keys(std::string_view path) const;

    // Stores a text (any characters) at the path. The last member of the path is created when
    // its parent is an object; an index past the end of an array extends it with nulls.
    Status set_text(std::string_view path, std::string_view text);
    // Stores the value parsed from a JSON text at the path.
    Status set_json(std::string_view path, std::string_view json);
    // Stores the value parsed from a JSON text as element `index` of the array at the path (or
    // as member "index" of an object there).
    Status set_element(std::string_view path, int index, std::string_view json);
    // Stores an empty array at the path.
    Status new_array(std::string_view path);
    // Appends the value parsed from a JSON text to the array at the path; a value there that
    // is not an array (absent included) is first replaced by an empty array.
    Status push(std::string_view path, std::string_view json);
    // Takes element `index` out of the array at the path; the later elements move up. An
    // index out of range changes nothing.
    Status remove_at(std::string_view path, int index);

    // Whether a path is well formed (reads of a malformed path give the empty results above).
    static Status check_path(std::string_view path);

    // Why the latest parse() failed.
    Error lastError() const { return lastError_; }

    const nlohmann::ordered_json& document() const { return doc_; }

  private:
    nlohmann::ordered_json doc_;
    Error lastError_;
};

} // namespace vantorel::script
