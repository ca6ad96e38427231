#include "model/recording_file.hpp"

namespace yux {

namespace {
constexpr json::TextCase<OutputFormat> kFormats[] = {{OutputFormat::mov, "mov"}};
}

std::string_view textOf(OutputFormat format) { return json::textOf(kFormats, format); }
std::string_view fileExtensionOf(OutputFormat format) { return textOf(format); }

}  // namespace yux

namespace yux::json {

Json Coder<OutputFormat>::encode(OutputFormat format) { return std::string(textOf(format)); }
OutputFormat Coder<OutputFormat>::decode(const Json& value) { return decodeTextCase(kFormats, value, "OutputFormat"); }

Json Coder<RecordingFile>::encode(const RecordingFile& file) {
    return ObjectWriter().set("path", file.path).set("createdAt", file.createdAt).build();
}

RecordingFile Coder<RecordingFile>::decode(const Json& value) {
    ObjectReader object(value);
    return RecordingFile{object.required<std::string>("path"), object.required<Date>("createdAt")};
}

}  // namespace yux::json
