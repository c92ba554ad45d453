#include "demo/wav_with_metadata.h"

#include "export/bwf_writer.h"
#include "export/ixml.h"

namespace morvane::demo {

std::string FormatIxml(const WavMetadata& m) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<BWFXML>\n";
    xml += "  <IXML_VERSION>2.10</IXML_VERSION>\n";
    xml += "  <PROJECT>Morvane Demo</PROJECT>\n";
    xml += "  <USER>\n";
    xml += "    <CatID>" + XmlEscape(m.catId) + "</CatID>\n";
    xml += "    <Category>" + XmlEscape(m.category) + "</Category>\n";
    xml += "    <SubCategory>" + XmlEscape(m.subCategory) + "</SubCategory>\n";
    xml += "    <FXName>" + XmlEscape(m.fxName) + "</FXName>\n";
    xml += "    <Description>" + XmlEscape(m.description) + "</Description>\n";
    xml += "    <Keywords>" + XmlEscape(m.keywords) + "</Keywords>\n";
    xml += "    <Library>Morvane Demo Sounds</Library>\n";
    xml += "  </USER>\n</BWFXML>\n";
    // iXML readers expect an even chunk; a trailing space keeps the text intact.
    if (xml.size() % 2 != 0) xml += ' ';
    return xml;
}

bool WriteWavWithMetadata(const std::string& path, const std::vector<Signal>& channels, int rate,
                          const WavMetadata& metadata, std::string* error) {
    auto fail = [&](const std::string& what) {
        if (error) *error = "cannot write " + path + ": " + what;
        return false;
    };
    if (channels.empty() || channels[0].empty()) return fail("no audio");
    const size_t frames = channels[0].size();
    for (const Signal& c : channels)
        if (c.size() != frames) return fail("channels differ in length");

    WavFileFormat format;
    format.sampleRate = rate;
    format.withBext = true;
    format.bext.description = metadata.description;
    format.bext.originator = metadata.originator;
    format.bext.originatorReference = metadata.catId + "_" + metadata.fxName;
    format.bext.originationDate = metadata.originationDate;
    format.bext.originationTime = metadata.originationTime;
    format.bext.codingHistory = "A=PCM,F=" + std::to_string(rate) + ",W=24,M=" +
                                (channels.size() == 1 ? "mono" : "stereo") + ",T=Morvane demo synthesis\r\n";
    format.ixml = FormatIxml(metadata);
    format.chunksRequired = true;  // the library scan finds a demo sound by these words
    std::vector<ChannelSpan> spans;
    for (const Signal& c : channels) spans.push_back({c.data(), static_cast<int64_t>(frames)});
    return WriteWavFile(path, spans, static_cast<int64_t>(frames), format, error).written;
}

}  // namespace morvane::demo
