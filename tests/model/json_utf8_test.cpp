#include "model/json.h"

#include <gtest/gtest.h>

namespace morvane {
namespace {

// A sound path on a disk whose names are Latin-1 must come back as the same bytes, or the
// project loses its source; output for other programs must still be valid UTF-8.
TEST(JsonUtf8, DocumentsKeepPathBytesWhileToolOutputIsValidUtf8) {
    const std::string latin1Path = "/sfx/Caf\xE9 Ambience.wav";

    JsonWriter document;
    document.beginObject();
    document.writeString("path", latin1Path);
    document.endObject();
    const JsonValue read = JsonParse(document.out);
    EXPECT_EQ(JsonAsText(JsonMember(read, "path")), latin1Path);

    JsonWriter tool;
    tool.validUtf8Only = true;
    tool.beginObject();
    tool.writeString("path", latin1Path);
    tool.writeString("ok", "Caf\xC3\xA9");
    tool.endObject();
    EXPECT_NE(tool.out.find("Caf\xEF\xBF\xBD Ambience"), std::string::npos);
    EXPECT_NE(tool.out.find("Caf\xC3\xA9\""), std::string::npos);  // well-formed UTF-8 is kept
}

}  // namespace
}  // namespace morvane
