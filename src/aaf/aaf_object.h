#pragma once
// AAF objects as they are stored: every object is a storage whose class id is the
// object's class, holding a "properties" stream of (property id, stored form, value)
// entries. Strong references name the storage of the object they own; vectors and
// sets of them name a collection whose elements are storages "name{key}" listed in a
// "name index" stream. Weak references carry the key of their target and a tag into
// the file's table of paths to the set the target lives in (the "referenced
// properties" stream of the root storage).
//
// This file knows the stored form only; aaf/aaf_session.h builds the session's
// objects. Any thread may call these; each call works on its own objects.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "aaf/compound_file.h"

namespace morvane {

using Auid = ClassId;  // AUIDs are stored like class ids

// "01030202-0200-0000-060E-2B3404010101" as stored.
Auid ParseAuid(std::string_view text);
std::string FormatAuid(const Auid& id);

enum class StoredForm : uint16_t {
    Data = 0x82,
    StrongRef = 0x22,
    StrongVector = 0x32,
    StrongSet = 0x3A,
    WeakRef = 0x02,
    WeakVector = 0x12,
};

// The sets weak references point into, in the order of the file's path table.
enum class WeakTarget : uint16_t {
    DataDefinitions = 0,
    OperationDefinitions,
    ParameterDefinitions,
    InterpolationDefinitions,
    ContainerDefinitions,
    TypeDefinitions,
    Count
};

struct AafObject;

struct WeakReference {
    WeakTarget target = WeakTarget::DataDefinitions;
    Auid key{};
};

struct AafProperty {
    uint16_t pid = 0;
    StoredForm form = StoredForm::Data;
    std::vector<uint8_t> data;  // Data
    std::string storageName;    // strong references: the storage (or collection) name
    std::vector<std::unique_ptr<AafObject>> objects;  // strong references, in order
    uint16_t keyPid = 0;        // sets: the property of each element that is its key
    std::vector<WeakReference> weak;  // WeakRef (one) and WeakVector
};

struct AafObject {
    ClassId classId{};
    std::vector<AafProperty> properties;

    const AafProperty* Find(uint16_t pid) const;
    AafProperty* Find(uint16_t pid);
};

// ---- Building ----
void SetData(AafObject& object, uint16_t pid, std::vector<uint8_t> bytes);
void SetString(AafObject& object, uint16_t pid, std::string_view utf8);
void SetAuid(AafObject& object, uint16_t pid, const Auid& value);
void SetBool(AafObject& object, uint16_t pid, bool value);
void SetU8(AafObject& object, uint16_t pid, uint8_t value);
void SetU16(AafObject& object, uint16_t pid, uint16_t value);
void SetU32(AafObject& object, uint16_t pid, uint32_t value);
void SetI64(AafObject& object, uint16_t pid, int64_t value);
void SetRational(AafObject& object, uint16_t pid, int32_t numerator, int32_t denominator);
void SetWeak(AafObject& object, uint16_t pid, WeakTarget target, const Auid& key);
void SetWeakVector(AafObject& object, uint16_t pid, const std::string& name, WeakTarget target,
                   std::vector<Auid> keys);
// Owns `child` under `pid`; returns it.
AafObject* SetStrong(AafObject& object, uint16_t pid, const std::string& name, std::unique_ptr<AafObject> child);
// Appends `child` to the vector (or set, keyed by the child's `keyPid`) under `pid`.
AafObject* AppendStrong(AafObject& object, uint16_t pid, const std::string& name, std::unique_ptr<AafObject> child);
AafObject* AddToSet(AafObject& object, uint16_t pid, const std::string& name, uint16_t keyPid,
                    std::unique_ptr<AafObject> child);
// An empty vector or set under `pid` (a required collection with no elements).
void SetEmptyCollection(AafObject& object, uint16_t pid, const std::string& name, StoredForm form, uint16_t keyPid);

std::unique_ptr<AafObject> NewObject(const ClassId& classId);

// Little-endian value encodings shared by the builders and readers.
void PutU16(std::vector<uint8_t>& out, uint16_t v);
void PutU32(std::vector<uint8_t>& out, uint32_t v);
void PutI64(std::vector<uint8_t>& out, int64_t v);
std::vector<uint8_t> Utf16Z(std::string_view utf8);  // UTF-16LE with its terminating zero
std::string FromUtf16Z(const std::vector<uint8_t>& bytes);
uint16_t GetU16(const uint8_t* p);
uint32_t GetU32(const uint8_t* p);
int64_t GetI64(const uint8_t* p);

// ---- The stored form ----
// The compound-file tree of a file whose root object is `root`: the root storage
// carries `fileKind` as its class id, as AAF readers expect of the file kind.
std::unique_ptr<CompoundNode> StoreAafFile(const AafObject& root, const ClassId& fileKind);

// The objects back from a compound-file tree; null (with `why`) when a storage is
// missing or a properties stream is malformed.
std::unique_ptr<AafObject> LoadAafFile(const CompoundNode& root, std::string* why);

}  // namespace morvane
