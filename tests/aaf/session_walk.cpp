#include "aaf/session_walk.h"

#include <cstdlib>
#include <functional>

namespace morvane::test {

namespace {

using namespace aaf;

struct Walk {
    WalkedSession& out;
    std::map<std::string, const AafObject*> mobs;  // by MobID bytes
    std::map<std::string, const AafObject*> definitions;  // by identifier, every weak target set
};

const AafObject* Strong(const AafObject& o, uint16_t pid) {
    const AafProperty* p = o.Find(pid);
    return p != nullptr && !p->objects.empty() ? p->objects[0].get() : nullptr;
}

std::vector<const AafObject*> Many(const AafObject& o, uint16_t pid) {
    std::vector<const AafObject*> list;
    if (const AafProperty* p = o.Find(pid))
        for (const auto& x : p->objects) list.push_back(x.get());
    return list;
}

std::vector<uint8_t> Data(const AafObject& o, uint16_t pid) {
    const AafProperty* p = o.Find(pid);
    return p != nullptr ? p->data : std::vector<uint8_t>{};
}

std::string Text(const AafObject& o, uint16_t pid) { return FromUtf16Z(Data(o, pid)); }

int64_t I64(const AafObject& o, uint16_t pid) {
    const std::vector<uint8_t> d = Data(o, pid);
    return d.size() == 8 ? GetI64(d.data()) : -1;
}

uint32_t U32(const AafObject& o, uint16_t pid) {
    const std::vector<uint8_t> d = Data(o, pid);
    return d.size() == 4 ? GetU32(d.data()) : 0;
}

double RationalAt(const std::vector<uint8_t>& d, size_t at) {
    if (d.size() < at + 8) return -1.0;
    return static_cast<int32_t>(GetU32(d.data() + at)) / static_cast<double>(static_cast<int32_t>(GetU32(d.data() + at + 4)));
}

bool Is(const AafObject& o, const char* classId) { return o.classId == ParseAuid(classId); }

std::string Key(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

// The weak reference's target's name; a dangling reference fails the walk.
std::string Resolve(Walk& w, const AafObject& o, uint16_t pid) {
    const AafProperty* p = o.Find(pid);
    if (p == nullptr || p->weak.empty()) {
        w.out.error = "missing weak reference";
        return "";
    }
    auto found = w.definitions.find(FormatAuid(p->weak[0].key));
    if (found == w.definitions.end()) {
        w.out.error = "dangling weak reference to " + FormatAuid(p->weak[0].key);
        return "";
    }
    return Text(*found->second, kDefinitionName);
}

std::string DecodeUrl(const std::string& url) {
    std::string path;
    const size_t start = url.rfind("file://", 0) == 0 ? 7 : 0;
    for (size_t i = start; i < url.size(); ++i) {
        if (url[i] == '%' && i + 2 < url.size()) {
            path += static_cast<char>(std::strtol(url.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {
            path += url[i];
        }
    }
    return path;
}

void ReadParameter(Walk& w, const AafObject& group, WalkedClip& clip) {
    for (const AafObject* param : Many(group, kOperationGroupParameters)) {
        clip.interpolation = Resolve(w, *param, kVaryingValueInterpolation);
        for (const AafObject* point : Many(*param, kVaryingValuePointList))
            clip.points.push_back({RationalAt(Data(*point, kControlPointTime), 0),
                                   RationalAt(Data(*point, kControlPointValue), 17)});
    }
}

// Master mob -> file source mob -> descriptor and locator.
void ResolveMedia(Walk& w, const AafObject& sourceClip, WalkedClip& clip) {
    clip.sourceOffset = I64(sourceClip, kSourceClipStartTime);
    auto master = w.mobs.find(Key(Data(sourceClip, kSourceReferenceSourceId)));
    if (master == w.mobs.end() || !Is(*master->second, kClassMasterMob)) {
        w.out.error = "a clip's master mob is missing";
        return;
    }
    clip.masterName = Text(*master->second, kMobName);
    const std::vector<const AafObject*> slots = Many(*master->second, kMobSlots);
    const AafObject* toFile = slots.empty() ? nullptr : Strong(*slots[0], kSlotSegment);
    auto file = toFile ? w.mobs.find(Key(Data(*toFile, kSourceReferenceSourceId))) : w.mobs.end();
    if (file == w.mobs.end() || !Is(*file->second, kClassSourceMob)) {
        w.out.error = "a master mob's file source mob is missing";
        return;
    }
    const AafObject* descriptor = Strong(*file->second, kSourceMobEssenceDescription);
    if (descriptor == nullptr) {
        w.out.error = "a file source mob has no descriptor";
        return;
    }
    clip.rate = static_cast<int32_t>(RationalAt(Data(*descriptor, kFileDescriptorSampleRate), 0));
    clip.channels = U32(*descriptor, kSoundChannels);
    clip.mediaLength = I64(*descriptor, kFileDescriptorLength);
    const std::vector<const AafObject*> locators = Many(*descriptor, kDescriptorLocators);
    if (!locators.empty()) clip.url = Text(*locators[0], kNetworkLocatorUrl);
    clip.path = DecodeUrl(clip.url);
}

void WalkTrack(Walk& w, const AafObject& slot) {
    WalkedTrack track;
    track.name = Text(slot, kSlotName);
    const AafObject* sequence = Strong(slot, kSlotSegment);
    if (sequence == nullptr || !Is(*sequence, kClassSequence)) {
        w.out.error = "a track has no sequence";
        return;
    }
    track.length = I64(*sequence, kComponentLength);
    int64_t at = 0;
    for (const AafObject* c : Many(*sequence, kSequenceComponents)) {
        ++track.components;
        const int64_t length = I64(*c, kComponentLength);
        if (Resolve(w, *c, kComponentDataDefinition) != "Sound") w.out.error = "a track component is not sound";
        if (Is(*c, kClassTransition)) {
            at -= length;
            WalkedTransition t{at, length, "", {}};
            if (const AafObject* group = Strong(*c, kTransitionOperationGroup)) {
                t.operation = Resolve(w, *group, kOperationGroupOperation);
                for (const AafObject* param : Many(*group, kOperationGroupParameters))
                    for (const AafObject* point : Many(*param, kVaryingValuePointList))
                        t.levels.push_back(RationalAt(Data(*point, kControlPointValue), 17));
            }
            track.transitions.push_back(t);
            continue;
        }
        if (Is(*c, kClassSourceClip) || Is(*c, kClassOperationGroup)) {
            WalkedClip clip;
            clip.position = at;
            clip.length = length;
            const AafObject* source = c;
            if (Is(*c, kClassOperationGroup)) {
                clip.operation = Resolve(w, *c, kOperationGroupOperation);
                ReadParameter(w, *c, clip);
                const std::vector<const AafObject*> inputs = Many(*c, kOperationGroupInputs);
                source = inputs.empty() ? nullptr : inputs[0];
            }
            if (source != nullptr) ResolveMedia(w, *source, clip);
            track.clips.push_back(clip);
        } else if (!Is(*c, kClassFiller)) {
            w.out.error = "unexpected component in a track";
        }
        at += length;
    }
    if (at != track.length) w.out.error = "track '" + track.name + "' components do not add up to its length";
    w.out.tracks.push_back(std::move(track));
}

void WalkComposition(Walk& w, const AafObject& mob) {
    ++w.out.compositions;
    w.out.compositionName = Text(mob, kMobName);
    const Auid topLevel = ParseAuid("0D010102-0101-0700-060E-2B3404010101");
    if (Data(mob, kMobUsageCode) == std::vector<uint8_t>(topLevel.begin(), topLevel.end())) ++w.out.topLevel;
    for (const AafObject* slot : Many(mob, kMobSlots)) {
        const AafObject* segment = Strong(*slot, kSlotSegment);
        if (segment == nullptr) continue;
        if (Is(*segment, kClassTimecode)) {
            w.out.tcRate = static_cast<int32_t>(RationalAt(Data(*slot, kTimelineSlotEditRate), 0) + 0.5);
            w.out.tcStart = I64(*segment, kTimecodeStart);
            const std::vector<uint8_t> fps = Data(*segment, kTimecodeFps);
            w.out.tcFps = fps.size() == 2 ? GetU16(fps.data()) : 0;
        } else if (Is(*slot, kClassEventMobSlot)) {
            for (const AafObject* marker : Many(*segment, kSequenceComponents))
                w.out.markers.push_back({I64(*marker, kEventPosition), Text(*marker, kEventComment)});
        } else {
            WalkTrack(w, *slot);
        }
    }
}

}  // namespace

WalkedSession WalkAafSession(const std::string& path) {
    WalkedSession out;
    std::string why;
    std::unique_ptr<CompoundNode> tree = ReadCompoundFile(path, &why);
    if (!tree) {
        out.error = why;
        return out;
    }
    out.rootClass = tree->classId;
    std::unique_ptr<AafObject> root = LoadAafFile(*tree, &why);
    const AafObject* header = root ? Strong(*root, kRootHeader) : nullptr;
    const AafObject* dictionary = header ? Strong(*header, kHeaderDictionary) : nullptr;
    const AafObject* content = header ? Strong(*header, kHeaderContent) : nullptr;
    const AafObject* meta = root ? Strong(*root, kRootMetaDictionary) : nullptr;
    if (!header || !dictionary || !content || !meta) {
        out.error = why.empty() ? "no header, dictionary or content" : why;
        return out;
    }
    Walk w{out, {}, {}};
    for (const AafProperty& set : dictionary->properties)
        for (const auto& def : set.objects) {
            const std::vector<uint8_t> id = Data(*def, kDefinitionIdentification);
            if (id.size() != 16) continue;
            Auid a;
            std::copy(id.begin(), id.end(), a.begin());
            w.definitions[FormatAuid(a)] = def.get();
            out.definitions[FormatAuid(a)] = Text(*def, kDefinitionName);
        }
    const std::vector<const AafObject*> idents = Many(*header, kHeaderIdentificationList);
    if (!idents.empty()) {
        out.company = Text(*idents[0], kIdentCompanyName);
        out.product = Text(*idents[0], kIdentProductName);
        out.versionString = Text(*idents[0], kIdentProductVersionString);
        out.platform = Text(*idents[0], kIdentPlatform);
        out.productVersion = Data(*idents[0], kIdentProductVersion);
        out.toolkitVersion = Data(*idents[0], kIdentToolkitVersion);
    }
    for (const AafObject* mob : Many(*content, kContentMobs)) w.mobs[Key(Data(*mob, kMobId))] = mob;
    for (const AafObject* mob : Many(*content, kContentMobs))
        if (Is(*mob, kClassCompositionMob)) WalkComposition(w, *mob);
    out.ok = out.error.empty();
    return out;
}

}  // namespace morvane::test
