#pragma once
// An AAF session: one composition ("Morvane Timeline", the top-level composition)
// with a timecode track, mono audio tracks of fillers and source clips, optional
// fades (transitions with a mono audio dissolve), clip gain automation (a mono audio
// gain whose amplitude varies with linear interpolation) and markers; each clip
// reaches its media file through a master mob and a file source mob whose PCM
// descriptor and network locator describe the mono Broadcast WAV beside the session.
//
// The session is described in plain records in edit units (samples for audio, video
// frames for timecode), built as AAF objects (aaf/aaf_object.h) and written in one
// go under a temporary name that is renamed into place when whole.
//
// Any thread may call these; each call writes its own file.
#include <cstdint>
#include <string>
#include <vector>

#include "aaf/aaf_object.h"

namespace morvane {

// One mono media file.
struct AafMediaFile {
    std::string path;  // absolute
    std::string name;  // the master mob's name
    int32_t sampleRate = 48000;
    int64_t frames = 0;
};

struct AafGainPoint {
    double time = 0.0;   // 0..1 of the clip
    double value = 1.0;  // linear amplitude
};

struct AafClip {
    int media = -1;            // index into AafSession::media
    int64_t position = 0;      // on the track, in samples
    int64_t length = 0;
    int64_t sourceOffset = 0;  // into the media file
    int64_t fadeIn = 0;        // fade from silence over the clip's first samples
    int64_t fadeOut = 0;
    std::vector<AafGainPoint> gain;  // empty: no gain automation
};

// Clips in time order; they never overlap.
struct AafTrack {
    std::string name;
    std::vector<AafClip> clips;
};

struct AafMarker {
    int64_t position = 0;  // samples
    std::string comment;
};

struct AafSession {
    std::string name = "Morvane Timeline";
    int32_t sampleRate = 48000;
    int32_t frameRateNumerator = 24;  // the timecode track's edit rate
    int32_t frameRateDenominator = 1;
    int64_t timecodeStart = 0;  // in frames of that rate
    int64_t length = 0;         // of every track, in samples
    std::vector<AafMediaFile> media;
    std::vector<AafTrack> tracks;
    std::vector<AafMarker> markers;
};

// Result codes of the writer's steps, in the "[AAF] <step> FAILED hr=0x%08lX" lines.
inline constexpr uint32_t kAafResultCannotCreate = 0x80120011;
inline constexpr uint32_t kAafResultCannotWrite = 0x80120012;
inline constexpr uint32_t kAafResultCannotFinish = 0x80120013;
inline constexpr uint32_t kAafResultBadSession = 0x80120014;

struct AafWriteError {
    std::string step;  // "OpenNewModifyEx", "Save", "Close", "LookupDataDef"
    uint32_t code = 0;
    std::string why;
};

// Writes the session to `path`, logging the failed step's line. Nothing is left at
// `path` (nor beside it) when it fails.
bool WriteAafSession(const AafSession& session, const std::string& path, AafWriteError* error);

// The session's AAF objects, from the root object down.
std::unique_ptr<AafObject> BuildAafSession(const AafSession& session);

// "file://" and the path with every byte outside letters, digits and "/-_.~" written
// as "%" and two upper-case hexadecimal digits.
std::string FileUrl(const std::string& path);

// ---- Identifiers readers rely on ----
namespace aaf {
inline constexpr const char* kFileKind = "42464141-000D-4D4F-060E-2B34010101FF";
inline constexpr const char* kDataDefSound = "01030202-0200-0000-060E-2B3404010101";
inline constexpr const char* kDataDefTimecode = "01030201-0100-0000-060E-2B3404010101";
inline constexpr const char* kDataDefDescriptive = "01030201-1000-0000-060E-2B3404010101";
inline constexpr const char* kOperationMonoAudioDissolve = "0C3BEA41-FC05-11D2-8A29-0050040EF7D2";
inline constexpr const char* kOperationMonoAudioGain = "9D2EA894-0968-11D3-8A38-0050040EF7D2";
inline constexpr const char* kParameterLevel = "E4962320-2267-11D3-8A4C-0050040EF7D2";
inline constexpr const char* kParameterAmplitude = "E4962321-2267-11D3-8A4C-0050040EF7D2";
inline constexpr const char* kInterpolationLinear = "5B6C85A4-0EDE-11D3-80A9-006008143E6F";
inline constexpr const char* kContainerExternal = "4313B572-D8BA-11D2-809B-006008143E6F";
inline constexpr const char* kTypeRational = "03010100-0000-0000-060E-2B3401040101";
inline constexpr const char* kTypeInt32 = "01010700-0000-0000-060E-2B3401040101";

// Classes: the AAF object classes by their registered identifiers.
inline constexpr const char* kClassHeader = "0D010101-0101-2F00-060E-2B3402060101";
inline constexpr const char* kClassIdentification = "0D010101-0101-3000-060E-2B3402060101";
inline constexpr const char* kClassContentStorage = "0D010101-0101-1800-060E-2B3402060101";
inline constexpr const char* kClassDictionary = "0D010101-0101-2200-060E-2B3402060101";
inline constexpr const char* kClassDataDefinition = "0D010101-0101-1B00-060E-2B3402060101";
inline constexpr const char* kClassOperationDefinition = "0D010101-0101-1C00-060E-2B3402060101";
inline constexpr const char* kClassParameterDefinition = "0D010101-0101-1D00-060E-2B3402060101";
inline constexpr const char* kClassInterpolationDefinition = "0D010101-0101-2100-060E-2B3402060101";
inline constexpr const char* kClassContainerDefinition = "0D010101-0101-2000-060E-2B3402060101";
inline constexpr const char* kClassCompositionMob = "0D010101-0101-3500-060E-2B3402060101";
inline constexpr const char* kClassMasterMob = "0D010101-0101-3600-060E-2B3402060101";
inline constexpr const char* kClassSourceMob = "0D010101-0101-3700-060E-2B3402060101";
inline constexpr const char* kClassTimelineMobSlot = "0D010101-0101-3B00-060E-2B3402060101";
inline constexpr const char* kClassEventMobSlot = "0D010101-0101-3900-060E-2B3402060101";
inline constexpr const char* kClassSequence = "0D010101-0101-0F00-060E-2B3402060101";
inline constexpr const char* kClassFiller = "0D010101-0101-0900-060E-2B3402060101";
inline constexpr const char* kClassSourceClip = "0D010101-0101-1100-060E-2B3402060101";
inline constexpr const char* kClassTransition = "0D010101-0101-1700-060E-2B3402060101";
inline constexpr const char* kClassOperationGroup = "0D010101-0101-0A00-060E-2B3402060101";
inline constexpr const char* kClassTimecode = "0D010101-0101-1400-060E-2B3402060101";
inline constexpr const char* kClassConstantValue = "0D010101-0101-3D00-060E-2B3402060101";
inline constexpr const char* kClassVaryingValue = "0D010101-0101-3E00-060E-2B3402060101";
inline constexpr const char* kClassControlPoint = "0D010101-0101-1900-060E-2B3402060101";
inline constexpr const char* kClassPCMDescriptor = "0D010101-0101-4800-060E-2B3402060101";
inline constexpr const char* kClassNetworkLocator = "0D010101-0101-3200-060E-2B3402060101";
inline constexpr const char* kClassDescriptiveMarker = "0D010101-0101-4100-060E-2B3402060101";
inline constexpr const char* kClassMetaDictionary = "0D010101-0225-0000-060E-2B3402060101";
inline constexpr const char* kClassTypeInteger = "0D010101-0204-0000-060E-2B3402060101";
inline constexpr const char* kClassTypeRecord = "0D010101-020D-0000-060E-2B3402060101";
inline constexpr const char* kClassRoot = "B3B398A5-1C90-11D4-8053-080036210804";

// Property ids.
enum Pid : uint16_t {
    kRootMetaDictionary = 0x0001, kRootHeader = 0x0002,
    kMetaClassDefinitions = 0x0003, kMetaTypeDefinitions = 0x0004, kMetaIdentification = 0x0005, kMetaName = 0x0006,
    kTypeIntSize = 0x000F, kTypeIntSigned = 0x0010, kTypeRecordMemberTypes = 0x001C, kTypeRecordMemberNames = 0x001D,
    kComponentDataDefinition = 0x0201, kComponentLength = 0x0202,
    kEventPosition = 0x0601, kEventComment = 0x0602,
    kOperationGroupOperation = 0x0B01, kOperationGroupInputs = 0x0B02, kOperationGroupParameters = 0x0B03,
    kSequenceComponents = 0x1001,
    kSourceReferenceSourceId = 0x1101, kSourceReferenceSlotId = 0x1102, kSourceClipStartTime = 0x1201,
    kTimecodeStart = 0x1501, kTimecodeFps = 0x1502, kTimecodeDrop = 0x1503,
    kTransitionOperationGroup = 0x1801, kTransitionCutPoint = 0x1802,
    kContentMobs = 0x1901,
    kControlPointValue = 0x1A02, kControlPointTime = 0x1A03,
    kDefinitionIdentification = 0x1B01, kDefinitionName = 0x1B02, kDefinitionDescription = 0x1B03,
    kOperationDefDataDefinition = 0x1E01, kOperationDefIsTimeWarp = 0x1E02, kOperationDefNumberInputs = 0x1E07,
    kParameterDefType = 0x1F01,
    kDictionaryOperationDefinitions = 0x2603, kDictionaryParameterDefinitions = 0x2604,
    kDictionaryDataDefinitions = 0x2605, kDictionaryContainerDefinitions = 0x2608,
    kDictionaryInterpolationDefinitions = 0x2609,
    kDescriptorLocators = 0x2F01, kFileDescriptorSampleRate = 0x3001, kFileDescriptorLength = 0x3002,
    kFileDescriptorContainerFormat = 0x3004,
    kHeaderByteOrder = 0x3B01, kHeaderLastModified = 0x3B02, kHeaderContent = 0x3B03, kHeaderDictionary = 0x3B04,
    kHeaderVersion = 0x3B05, kHeaderIdentificationList = 0x3B06, kHeaderObjectModelVersion = 0x3B07,
    kHeaderOperationalPattern = 0x3B09,
    kIdentCompanyName = 0x3C01, kIdentProductName = 0x3C02, kIdentProductVersion = 0x3C03,
    kIdentProductVersionString = 0x3C04, kIdentProductId = 0x3C05, kIdentDate = 0x3C06,
    kIdentToolkitVersion = 0x3C07, kIdentPlatform = 0x3C08, kIdentGenerationAuid = 0x3C09,
    kSoundQuantizationBits = 0x3D01, kSoundAudioSamplingRate = 0x3D03, kSoundChannels = 0x3D07,
    kPcmAverageBps = 0x3D09, kPcmBlockAlign = 0x3D0A,
    kNetworkLocatorUrl = 0x4001,
    kMobId = 0x4401, kMobName = 0x4402, kMobSlots = 0x4403, kMobLastModified = 0x4404, kMobCreationTime = 0x4405,
    kMobUsageCode = 0x4408,
    kSourceMobEssenceDescription = 0x4701,
    kSlotId = 0x4801, kSlotName = 0x4802, kSlotSegment = 0x4803, kSlotPhysicalTrackNumber = 0x4804,
    kEventSlotEditRate = 0x4901,
    kTimelineSlotEditRate = 0x4B01, kTimelineSlotOrigin = 0x4B02,
    kParameterDefinition = 0x4C01, kConstantValueValue = 0x4D01,
    kVaryingValueInterpolation = 0x4E01, kVaryingValuePointList = 0x4E02,
};
}  // namespace aaf

}  // namespace morvane
