#include "demo/wav_with_metadata.h"

#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace morvane::demo {

namespace {

std::string EscapeXml(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

void CopyField(char* field, size_t size, const std::string& text) {
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), std::min(size, text.size()));
}

}  // namespace

std::string FormatIxml(const WavMetadata& m) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<BWFXML>\n";
    xml += "  <IXML_VERSION>2.10</IXML_VERSION>\n";
    xml += "  <PROJECT>Morvane Demo</PROJECT>\n";
    xml += "  <USER>\n";
    xml += "    <CatID>" + EscapeXml(m.catId) + "</CatID>\n";
    xml += "    <Category>" + EscapeXml(m.category) + "</Category>\n";
    xml += "    <SubCategory>" + EscapeXml(m.subCategory) + "</SubCategory>\n";
    xml += "    <FXName>" + EscapeXml(m.fxName) + "</FXName>\n";
    xml += "    <Description>" + EscapeXml(m.description) + "</Description>\n";
    xml += "    <Keywords>" + EscapeXml(m.keywords) + "</Keywords>\n";
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

    const std::string temporary = path + ".partial";
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = static_cast<int>(channels.size());
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
    SNDFILE* file = sf_open(temporary.c_str(), SFM_WRITE, &info);
    if (file == nullptr) return fail(sf_strerror(nullptr));

    SF_BROADCAST_INFO bext{};
    CopyField(bext.description, sizeof bext.description, metadata.description);
    CopyField(bext.originator, sizeof bext.originator, metadata.originator);
    CopyField(bext.originator_reference, sizeof bext.originator_reference, metadata.catId + "_" + metadata.fxName);
    CopyField(bext.origination_date, sizeof bext.origination_date, metadata.originationDate);
    CopyField(bext.origination_time, sizeof bext.origination_time, metadata.originationTime);
    bext.version = 1;
    const std::string history = "A=PCM,F=" + std::to_string(rate) + ",W=24,M=" +
                                (channels.size() == 1 ? "mono" : "stereo") + ",T=Morvane demo synthesis\r\n";
    CopyField(bext.coding_history, sizeof bext.coding_history, history);
    bext.coding_history_size = static_cast<uint32_t>(std::min(history.size(), sizeof bext.coding_history));
    bool ok = sf_command(file, SFC_SET_BROADCAST_INFO, &bext, sizeof bext) == SF_TRUE;

    std::string xml = FormatIxml(metadata);
    SF_CHUNK_INFO chunk{};
    std::memcpy(chunk.id, "iXML", 4);
    chunk.id_size = 4;
    chunk.datalen = static_cast<unsigned>(xml.size());
    chunk.data = xml.data();
    ok = ok && sf_set_chunk(file, &chunk) == SF_ERR_NO_ERROR;
    if (!ok) {
        sf_close(file);
        ::unlink(temporary.c_str());
        return fail("the metadata chunks were refused");
    }

    // 24-bit output: full-scale samples must not wrap, so clamp before the write.
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    std::vector<float> interleaved(frames * channels.size());
    for (size_t i = 0; i < frames; ++i)
        for (size_t c = 0; c < channels.size(); ++c) interleaved[i * channels.size() + c] = channels[c][i];
    const sf_count_t written = sf_writef_float(file, interleaved.data(), static_cast<sf_count_t>(frames));
    sf_write_sync(file);
    const int closed = sf_close(file);
    if (written != static_cast<sf_count_t>(frames) || closed != 0) {
        ::unlink(temporary.c_str());
        return fail("short write");
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return fail("cannot move the finished file into place");
    }
    return true;
}

}  // namespace morvane::demo
