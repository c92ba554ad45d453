#include "aaf/aaf_session.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <random>
#include <unistd.h>

namespace morvane {

namespace {

using namespace aaf;

using MobId = std::array<uint8_t, 32>;

// What every object of the session shares: the time stamp and the sound definition.
struct Builder {
    std::vector<uint8_t> now;  // TimeStamp: year, month, day, hour, minute, second, fraction
    std::mt19937_64 random;
};

std::vector<uint8_t> TimeStampNow() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&t, &tm);
    std::vector<uint8_t> b;
    PutU16(b, static_cast<uint16_t>(tm.tm_year + 1900));
    for (int v : {tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, 0}) b.push_back(static_cast<uint8_t>(v));
    return b;
}

// A SMPTE UMID: the universal label, its length, an instance number and a fresh
// material number, so a session imported twice never confuses its mobs.
MobId NewMobId(Builder& b) {
    MobId id{0x06, 0x0A, 0x2B, 0x34, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x0F, 0x00, 0x13, 0x00, 0x00, 0x00};
    for (int i = 16; i < 32; i += 8) {
        const uint64_t r = b.random();
        for (int k = 0; k < 8; ++k) id[static_cast<size_t>(i + k)] = static_cast<uint8_t>(r >> (8 * k));
    }
    return id;
}

std::vector<uint8_t> Bytes(const MobId& id) { return std::vector<uint8_t>(id.begin(), id.end()); }

std::unique_ptr<AafObject> Make(const char* classId) { return NewObject(ParseAuid(classId)); }

std::vector<uint8_t> Rational(int32_t numerator, int32_t denominator) {
    std::vector<uint8_t> b;
    PutU32(b, static_cast<uint32_t>(numerator));
    PutU32(b, static_cast<uint32_t>(denominator));
    return b;
}

// An indirect value: byte order, the type's identifier, the value.
std::vector<uint8_t> IndirectRational(double value) {
    std::vector<uint8_t> b{0x4C};
    const Auid type = ParseAuid(kTypeRational);
    b.insert(b.end(), type.begin(), type.end());
    constexpr int32_t kDenominator = 1 << 16;
    const std::vector<uint8_t> r = Rational(static_cast<int32_t>(std::lround(value * kDenominator)), kDenominator);
    b.insert(b.end(), r.begin(), r.end());
    return b;
}

std::unique_ptr<AafObject> Definition(const char* classId, const char* id, const char* name, const char* description) {
    auto d = Make(classId);
    SetAuid(*d, kDefinitionIdentification, ParseAuid(id));
    SetString(*d, kDefinitionName, name);
    SetString(*d, kDefinitionDescription, description);
    return d;
}

std::unique_ptr<AafObject> OperationDefinition(const char* id, const char* name, const char* description, int inputs) {
    auto d = Definition(kClassOperationDefinition, id, name, description);
    SetWeak(*d, kOperationDefDataDefinition, WeakTarget::DataDefinitions, ParseAuid(kDataDefSound));
    SetBool(*d, kOperationDefIsTimeWarp, false);
    SetU32(*d, kOperationDefNumberInputs, static_cast<uint32_t>(inputs));
    return d;
}

std::unique_ptr<AafObject> ParameterDefinition(const char* id, const char* name, const char* description) {
    auto d = Definition(kClassParameterDefinition, id, name, description);
    SetWeak(*d, kParameterDefType, WeakTarget::TypeDefinitions, ParseAuid(kTypeRational));
    return d;
}

std::unique_ptr<AafObject> MakeDictionary() {
    auto dict = Make(kClassDictionary);
    const char* dataDefs = "DataDefinitions-2605";
    AddToSet(*dict, kDictionaryDataDefinitions, dataDefs, kDefinitionIdentification,
             Definition(kClassDataDefinition, kDataDefSound, "Sound", "Sound data"));
    AddToSet(*dict, kDictionaryDataDefinitions, dataDefs, kDefinitionIdentification,
             Definition(kClassDataDefinition, kDataDefTimecode, "Timecode", "Timecode data"));
    AddToSet(*dict, kDictionaryDataDefinitions, dataDefs, kDefinitionIdentification,
             Definition(kClassDataDefinition, kDataDefDescriptive, "DescriptiveMetadata", "Descriptive metadata"));
    const char* paramDefs = "ParameterDefs-2604";
    AddToSet(*dict, kDictionaryParameterDefinitions, paramDefs, kDefinitionIdentification,
             ParameterDefinition(kParameterLevel, "Level", "Dissolve level parameter"));
    AddToSet(*dict, kDictionaryParameterDefinitions, paramDefs, kDefinitionIdentification,
             ParameterDefinition(kParameterAmplitude, "Amplitude", "Gain amplitude parameter"));
    const char* opDefs = "OperationDefs-2603";
    AddToSet(*dict, kDictionaryOperationDefinitions, opDefs, kDefinitionIdentification,
             OperationDefinition(kOperationMonoAudioDissolve, "Mono Audio Dissolve", "A mono audio dissolve", 2));
    AddToSet(*dict, kDictionaryOperationDefinitions, opDefs, kDefinitionIdentification,
             OperationDefinition(kOperationMonoAudioGain, "Mono Audio Gain", "A mono audio gain adjustment", 1));
    AddToSet(*dict, kDictionaryInterpolationDefinitions, "InterpolationDefs-2609", kDefinitionIdentification,
             Definition(kClassInterpolationDefinition, kInterpolationLinear, "LinearInterp", "Linear interpolation"));
    AddToSet(*dict, kDictionaryContainerDefinitions, "ContainerDefs-2608", kDefinitionIdentification,
             Definition(kClassContainerDefinition, kContainerExternal, "External", "External Container"));
    return dict;
}

// The two types the parameters' values use: Rational, a record of two Int32.
std::unique_ptr<AafObject> MakeMetaDictionary() {
    auto meta = Make(kClassMetaDictionary);
    // Every class the session uses is a baseline class that readers know already;
    // the set is there, empty, because readers expect to find it.
    SetEmptyCollection(*meta, kMetaClassDefinitions, "ClassDefinitions-3", StoredForm::StrongSet, kMetaIdentification);
    auto int32 = Make(kClassTypeInteger);
    SetAuid(*int32, kMetaIdentification, ParseAuid(kTypeInt32));
    SetString(*int32, kMetaName, "Int32");
    SetU8(*int32, kTypeIntSize, 4);
    SetBool(*int32, kTypeIntSigned, true);
    auto rational = Make(kClassTypeRecord);
    SetAuid(*rational, kMetaIdentification, ParseAuid(kTypeRational));
    SetString(*rational, kMetaName, "Rational");
    SetWeakVector(*rational, kTypeRecordMemberTypes, "MemberTypes-1c", WeakTarget::TypeDefinitions,
                  {ParseAuid(kTypeInt32), ParseAuid(kTypeInt32)});
    std::vector<uint8_t> names = Utf16Z("Numerator");
    const std::vector<uint8_t> second = Utf16Z("Denominator");
    names.insert(names.end(), second.begin(), second.end());
    SetData(*rational, kTypeRecordMemberNames, std::move(names));
    AddToSet(*meta, kMetaTypeDefinitions, "TypeDefinitions-4", kMetaIdentification, std::move(int32));
    AddToSet(*meta, kMetaTypeDefinitions, "TypeDefinitions-4", kMetaIdentification, std::move(rational));
    return meta;
}

std::vector<uint8_t> ProductVersion(uint16_t major, uint16_t minor, uint16_t tertiary, uint16_t patch) {
    std::vector<uint8_t> b;
    for (uint16_t v : {major, minor, tertiary, patch}) PutU16(b, v);
    b.push_back(1);  // released
    return b;
}

std::unique_ptr<AafObject> MakeIdentification(Builder& b) {
    auto id = Make(kClassIdentification);
    SetString(*id, kIdentCompanyName, "Morvane");
    SetString(*id, kIdentProductName, "Morvane");
    SetData(*id, kIdentProductVersion, ProductVersion(1, 0, 0, 0));
    SetString(*id, kIdentProductVersionString, "1.0.0.0");
    SetAuid(*id, kIdentProductId, ParseAuid("4D6F7276-616E-6500-8000-0000AAF00001"));
    SetData(*id, kIdentDate, b.now);
    SetData(*id, kIdentToolkitVersion, ProductVersion(1, 0, 0, 0));
    SetString(*id, kIdentPlatform, "Linux");
    Auid generation{};
    for (uint8_t& x : generation) x = static_cast<uint8_t>(b.random());
    SetAuid(*id, kIdentGenerationAuid, generation);
    return id;
}

std::unique_ptr<AafObject> Component(const char* classId, const char* dataDef, int64_t length) {
    auto c = Make(classId);
    SetWeak(*c, kComponentDataDefinition, WeakTarget::DataDefinitions, ParseAuid(dataDef));
    SetI64(*c, kComponentLength, length);
    return c;
}

std::unique_ptr<AafObject> SourceClip(const MobId& source, uint32_t slot, int64_t start, int64_t length) {
    auto clip = Component(kClassSourceClip, kDataDefSound, length);
    SetData(*clip, kSourceReferenceSourceId, Bytes(source));
    SetU32(*clip, kSourceReferenceSlotId, slot);
    SetI64(*clip, kSourceClipStartTime, start);
    return clip;
}

std::unique_ptr<AafObject> TimelineSlot(uint32_t slotId, const std::string& name, int32_t rateNum, int32_t rateDen,
                                        std::unique_ptr<AafObject> segment, uint32_t physicalTrack) {
    auto slot = Make(kClassTimelineMobSlot);
    SetU32(*slot, kSlotId, slotId);
    SetString(*slot, kSlotName, name);
    SetStrong(*slot, kSlotSegment, "Segment-4803", std::move(segment));
    if (physicalTrack > 0) SetU32(*slot, kSlotPhysicalTrackNumber, physicalTrack);
    SetData(*slot, kTimelineSlotEditRate, Rational(rateNum, rateDen));
    SetI64(*slot, kTimelineSlotOrigin, 0);
    return slot;
}

std::unique_ptr<AafObject> Mob(Builder& b, const char* classId, const MobId& id, const std::string& name) {
    auto mob = Make(classId);
    SetData(*mob, kMobId, Bytes(id));
    SetString(*mob, kMobName, name);
    SetData(*mob, kMobLastModified, b.now);
    SetData(*mob, kMobCreationTime, b.now);
    return mob;
}

// A parameter whose value moves along `points` (time 0..1 of the operation).
std::unique_ptr<AafObject> VaryingValue(const char* parameter, const std::vector<AafGainPoint>& points) {
    auto value = Make(kClassVaryingValue);
    SetAuid(*value, kParameterDefinition, ParseAuid(parameter));
    SetWeak(*value, kVaryingValueInterpolation, WeakTarget::InterpolationDefinitions, ParseAuid(kInterpolationLinear));
    for (const AafGainPoint& p : points) {
        auto point = Make(kClassControlPoint);
        SetData(*point, kControlPointValue, IndirectRational(p.value));
        constexpr int32_t kTimeDenominator = 1000000;
        SetData(*point, kControlPointTime,
                Rational(static_cast<int32_t>(std::lround(std::clamp(p.time, 0.0, 1.0) * kTimeDenominator)),
                         kTimeDenominator));
        AppendStrong(*value, kVaryingValuePointList, "PointList-4e02", std::move(point));
    }
    return value;
}

std::unique_ptr<AafObject> FadeTransition(int64_t length, bool fadeIn) {
    auto group = Component(kClassOperationGroup, kDataDefSound, length);
    SetWeak(*group, kOperationGroupOperation, WeakTarget::OperationDefinitions, ParseAuid(kOperationMonoAudioDissolve));
    AppendStrong(*group, kOperationGroupParameters, "Parameters-b03",
                 VaryingValue(kParameterLevel, {{0.0, fadeIn ? 0.0 : 1.0}, {1.0, fadeIn ? 1.0 : 0.0}}));
    auto transition = Component(kClassTransition, kDataDefSound, length);
    SetStrong(*transition, kTransitionOperationGroup, "OperationGroup-1801", std::move(group));
    SetI64(*transition, kTransitionCutPoint, fadeIn ? 0 : length);
    return transition;
}

// The clip's segment: the source clip, wrapped in a gain operation when it has automation.
std::unique_ptr<AafObject> ClipSegment(const AafClip& clip, const MobId& master) {
    auto source = SourceClip(master, 1, clip.sourceOffset, clip.length);
    if (clip.gain.empty()) return source;
    auto group = Component(kClassOperationGroup, kDataDefSound, clip.length);
    SetWeak(*group, kOperationGroupOperation, WeakTarget::OperationDefinitions, ParseAuid(kOperationMonoAudioGain));
    AppendStrong(*group, kOperationGroupInputs, "InputSegments-b02", std::move(source));
    AppendStrong(*group, kOperationGroupParameters, "Parameters-b03", VaryingValue(kParameterAmplitude, clip.gain));
    return group;
}

// Fillers, clips and their fades. A transition overlaps the segments on both sides,
// so the segment before a fade-in (and after a fade-out) is longer by the fade.
std::unique_ptr<AafObject> TrackSequence(const AafTrack& track, const std::vector<MobId>& masters, int64_t length) {
    auto sequence = Component(kClassSequence, kDataDefSound, length);
    const char* list = "Components-1001";
    int64_t at = 0;           // where the next segment starts on the track
    int64_t pendingFade = 0;  // the last clip's fade-out, still to be covered by a filler
    auto filler = [&](int64_t gap, int64_t overlap) {
        AppendStrong(*sequence, kSequenceComponents, list, Component(kClassFiller, kDataDefSound, gap + overlap));
    };
    for (const AafClip& clip : track.clips) {
        const int64_t gap = std::max<int64_t>(0, clip.position - at);
        const int64_t fadeIn = std::min(clip.fadeIn, clip.length);
        if (gap > 0 || pendingFade > 0 || fadeIn > 0) filler(gap, pendingFade + fadeIn);
        if (fadeIn > 0) AppendStrong(*sequence, kSequenceComponents, list, FadeTransition(fadeIn, true));
        AppendStrong(*sequence, kSequenceComponents, list, ClipSegment(clip, masters[static_cast<size_t>(clip.media)]));
        pendingFade = std::min(clip.fadeOut, clip.length - fadeIn);
        if (pendingFade > 0) AppendStrong(*sequence, kSequenceComponents, list, FadeTransition(pendingFade, false));
        at = clip.position + clip.length;
    }
    // Every sequence holds at least one component and lasts as long as the session.
    const int64_t tail = std::max<int64_t>(0, length - at);
    if (tail > 0 || pendingFade > 0 || track.clips.empty()) filler(tail, pendingFade);
    return sequence;
}

std::unique_ptr<AafObject> MarkerSlot(const AafSession& s, uint32_t slotId) {
    auto sequence = Component(kClassSequence, kDataDefDescriptive, 0);
    for (const AafMarker& m : s.markers) {
        auto marker = Component(kClassDescriptiveMarker, kDataDefDescriptive, 0);
        SetI64(*marker, kEventPosition, m.position);
        SetString(*marker, kEventComment, m.comment);
        AppendStrong(*sequence, kSequenceComponents, "Components-1001", std::move(marker));
    }
    auto slot = Make(kClassEventMobSlot);
    SetU32(*slot, kSlotId, slotId);
    SetString(*slot, kSlotName, "Markers");
    SetStrong(*slot, kSlotSegment, "Segment-4803", std::move(sequence));
    SetData(*slot, kEventSlotEditRate, Rational(s.sampleRate, 1));
    return slot;
}

std::unique_ptr<AafObject> FileSourceMob(Builder& b, const AafMediaFile& media, const MobId& id) {
    auto mob = Mob(b, kClassSourceMob, id, media.name);
    const MobId none{};  // the end of the chain: the media itself
    AppendStrong(*mob, kMobSlots, "Slots-4403",
                 TimelineSlot(1, "", media.sampleRate, 1, SourceClip(none, 0, 0, media.frames), 1));
    auto descriptor = Make(kClassPCMDescriptor);
    auto locator = Make(kClassNetworkLocator);
    SetString(*locator, kNetworkLocatorUrl, FileUrl(media.path));
    AppendStrong(*descriptor, kDescriptorLocators, "Locator-2f01", std::move(locator));
    SetData(*descriptor, kFileDescriptorSampleRate, Rational(media.sampleRate, 1));
    SetI64(*descriptor, kFileDescriptorLength, media.frames);
    SetWeak(*descriptor, kFileDescriptorContainerFormat, WeakTarget::ContainerDefinitions, ParseAuid(kContainerExternal));
    SetData(*descriptor, kSoundAudioSamplingRate, Rational(media.sampleRate, 1));
    SetU32(*descriptor, kSoundChannels, 1);
    SetU32(*descriptor, kSoundQuantizationBits, 24);
    SetU16(*descriptor, kPcmBlockAlign, 3);
    SetU32(*descriptor, kPcmAverageBps, static_cast<uint32_t>(media.sampleRate) * 3);
    SetStrong(*mob, kSourceMobEssenceDescription, "EssenceDescription-4701", std::move(descriptor));
    return mob;
}

std::unique_ptr<AafObject> MakeComposition(Builder& b, const AafSession& s, const std::vector<MobId>& masters) {
    auto mob = Mob(b, kClassCompositionMob, NewMobId(b), s.name);
    SetAuid(*mob, kMobUsageCode, ParseAuid("0D010102-0101-0700-060E-2B3404010101"));  // top-level
    const char* slots = "Slots-4403";
    // The timecode track lasts as long as the session, in whole frames.
    const double framesPerSample =
        static_cast<double>(s.frameRateNumerator) / s.frameRateDenominator / std::max(1, s.sampleRate);
    const int64_t tcLength = static_cast<int64_t>(std::ceil(static_cast<double>(s.length) * framesPerSample));
    auto timecode = Component(kClassTimecode, kDataDefTimecode, tcLength);
    SetI64(*timecode, kTimecodeStart, s.timecodeStart);
    SetU16(*timecode, kTimecodeFps,
           static_cast<uint16_t>(std::lround(static_cast<double>(s.frameRateNumerator) / s.frameRateDenominator)));
    SetBool(*timecode, kTimecodeDrop, false);
    AppendStrong(*mob, kMobSlots, slots,
                 TimelineSlot(1, "TC", s.frameRateNumerator, s.frameRateDenominator, std::move(timecode), 1));
    uint32_t slotId = 2;
    uint32_t physical = 1;
    for (const AafTrack& track : s.tracks)
        AppendStrong(*mob, kMobSlots, slots,
                     TimelineSlot(slotId++, track.name, s.sampleRate, 1, TrackSequence(track, masters, s.length),
                                  physical++));
    if (!s.markers.empty()) AppendStrong(*mob, kMobSlots, slots, MarkerSlot(s, slotId));
    return mob;
}

std::unique_ptr<AafObject> MakeHeader(Builder& b, const AafSession& s) {
    auto header = Make(kClassHeader);
    SetU16(*header, kHeaderByteOrder, 0x4949);
    SetData(*header, kHeaderLastModified, b.now);
    SetData(*header, kHeaderVersion, {1, 1});
    SetU32(*header, kHeaderObjectModelVersion, 1);
    SetAuid(*header, kHeaderOperationalPattern, ParseAuid("0D011201-0100-0000-060E-2B3404010105"));  // edit protocol
    AppendStrong(*header, kHeaderIdentificationList, "IdentificationList-3b06", MakeIdentification(b));
    SetStrong(*header, kHeaderDictionary, "Dictionary-3b04", MakeDictionary());

    auto content = Make(kClassContentStorage);
    const char* mobs = "Mobs-1901";
    std::vector<MobId> masters;
    for (const AafMediaFile& media : s.media) {
        const MobId fileId = NewMobId(b), masterId = NewMobId(b);
        auto master = Mob(b, kClassMasterMob, masterId, media.name);
        AppendStrong(*master, kMobSlots, "Slots-4403",
                     TimelineSlot(1, "", media.sampleRate, 1, SourceClip(fileId, 1, 0, media.frames), 1));
        AddToSet(*content, kContentMobs, mobs, kMobId, std::move(master));
        AddToSet(*content, kContentMobs, mobs, kMobId, FileSourceMob(b, media, fileId));
        masters.push_back(masterId);
    }
    AddToSet(*content, kContentMobs, mobs, kMobId, MakeComposition(b, s, masters));
    SetStrong(*header, kHeaderContent, "Content-3b03", std::move(content));
    return header;
}

bool Failed(AafWriteError* error, const char* step, uint32_t code, const std::string& why, const std::string& path) {
    if (std::string(step) == "OpenNewModifyEx")
        std::printf("[AAF] %s FAILED hr=0x%08lX path='%s'\n", step, static_cast<unsigned long>(code), path.c_str());
    else
        std::printf("[AAF] %s FAILED hr=0x%08lX\n", step, static_cast<unsigned long>(code));
    if (error != nullptr) *error = AafWriteError{step, code, why};
    return false;
}

// Every clip must name a media file and fit it: a reader would otherwise point at
// samples that do not exist.
bool SessionIsSound(const AafSession& s, std::string* why) {
    for (const AafTrack& track : s.tracks)
        for (const AafClip& clip : track.clips) {
            if (clip.media < 0 || clip.media >= static_cast<int>(s.media.size())) {
                *why = "a clip of '" + track.name + "' has no media file";
                return false;
            }
            const AafMediaFile& m = s.media[static_cast<size_t>(clip.media)];
            if (clip.length <= 0 || clip.sourceOffset < 0 || clip.sourceOffset + clip.length > m.frames) {
                *why = "a clip of '" + track.name + "' reaches past the end of " + m.path;
                return false;
            }
        }
    return true;
}

}  // namespace

std::string FileUrl(const std::string& path) {
    std::string url = "file://";
    for (char c : path) {
        const auto b = static_cast<unsigned char>(c);
        if (std::isalnum(b) != 0 && b < 128) {
            url += c;
        } else if (c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
            url += c;
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", b);
            url += hex;
        }
    }
    return url;
}

std::unique_ptr<AafObject> BuildAafSession(const AafSession& session) {
    Builder b;
    b.now = TimeStampNow();
    b.random.seed((static_cast<uint64_t>(std::random_device{}()) << 32) ^ static_cast<uint64_t>(std::time(nullptr)) ^
                  static_cast<uint64_t>(getpid()));
    auto root = Make(kClassRoot);
    SetStrong(*root, kRootMetaDictionary, "MetaDictionary-1", MakeMetaDictionary());
    SetStrong(*root, kRootHeader, "Header-2", MakeHeader(b, session));
    return root;
}

bool WriteAafSession(const AafSession& session, const std::string& path, AafWriteError* error) {
    std::string why;
    if (!SessionIsSound(session, &why)) return Failed(error, "LookupDataDef", kAafResultBadSession, why, path);
    const std::unique_ptr<AafObject> root = BuildAafSession(session);
    const std::unique_ptr<CompoundNode> tree = StoreAafFile(*root, ParseAuid(kFileKind));
    // Written beside its final name and renamed when whole: a reader never finds a
    // session that stops in the middle.
    const std::string partial = path + ".morvane-partial";
    CompoundWriteError writeError;
    if (!WriteCompoundFile(partial, *tree, &writeError)) {
        std::remove(partial.c_str());
        if (writeError.openFailed)
            return Failed(error, "OpenNewModifyEx", kAafResultCannotCreate, writeError.why, path);
        return Failed(error, "Save", kAafResultCannotWrite, writeError.why, path);
    }
    if (std::rename(partial.c_str(), path.c_str()) != 0) {
        std::remove(partial.c_str());
        return Failed(error, "Close", kAafResultCannotFinish, "cannot move the session into place", path);
    }
    return true;
}

}  // namespace morvane
