#include "kept_json_metadata.h"

#include <limits>

#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

namespace murako {

namespace {

// Follows the parser through the outer array's first three values, the third being the metadata object,
// and stops it there.
class MetadataReader : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, MetadataReader> {
public:
    std::optional<int64_t> timestamp;
    bool metadataRead = false;

    // Any value but a container: the versions, or a field of the metadata.
    bool Default()
    {
        timestampNext_ = false;
        if (depth_ == 1)
            return ++valuesInOuter_ <= 2;
        return depth_ >= 2;
    }
    bool Uint(unsigned value) { return Number(value); }
    bool Int(int value) { return value < 0 ? Default() : Number(static_cast<uint64_t>(value)); }
    bool Uint64(uint64_t value) { return Number(value); }
    bool Int64(int64_t value) { return value < 0 ? Default() : Number(static_cast<uint64_t>(value)); }
    bool Key(const char* text, rapidjson::SizeType length, bool)
    {
        timestampNext_ = depth_ == 2 && std::string_view(text, length) == "timestamp";
        return true;
    }
    bool StartArray() { return depth_ == 0 || depth_ >= 2 ? Nested() : false; }
    bool StartObject() { return (depth_ == 1 && valuesInOuter_ == 2) || depth_ >= 2 ? Nested() : false; }
    bool EndArray(rapidjson::SizeType) { return Ended(); }
    bool EndObject(rapidjson::SizeType) { return Ended(); }

private:
    bool Nested()
    {
        ++depth_;
        timestampNext_ = false;
        return true;
    }
    bool Ended()
    {
        --depth_;
        metadataRead = depth_ == 1;
        return depth_ >= 2;
    }
    bool Number(uint64_t value)
    {
        const bool isTimestamp = timestampNext_;
        if (!Default())
            return false;
        if (isTimestamp && value <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
            timestamp = static_cast<int64_t>(value);
        return true;
    }

    int depth_ = 0;
    int valuesInOuter_ = 0;
    bool timestampNext_ = false;
};

}  // namespace

std::optional<int64_t> ExportTimestamp(std::string_view head)
{
    rapidjson::MemoryStream stream(head.data(), head.size());
    MetadataReader reader;
    rapidjson::Reader parser;
    parser.Parse<rapidjson::kParseIterativeFlag>(stream, reader);
    return reader.metadataRead ? reader.timestamp : std::nullopt;
}

}  // namespace murako
