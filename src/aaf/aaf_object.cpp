#include "aaf/aaf_object.h"

#include <cstdio>

#include "platform/utf8.h"

namespace morvane {

namespace {

constexpr uint8_t kLittleEndian = 0x4C;  // 'L'
constexpr uint8_t kPropertiesVersion = 0x20;
constexpr uint32_t kNoFreeKey = 0xFFFFFFFF;
constexpr const char* kPropertiesStream = "properties";
constexpr const char* kReferencedProperties = "referenced properties";

struct TargetPath {
    std::vector<uint16_t> pids;  // from the root object to the set
    uint16_t keyPid;
};

// Root: 0x0001 meta-dictionary, 0x0002 header; header 0x3B04 dictionary; the
// dictionary's definition sets, keyed by their identification (0x1B01); the
// meta-dictionary's type definitions, keyed by theirs (0x0005).
const TargetPath kTargetPaths[] = {
    {{0x0002, 0x3B04, 0x2605}, 0x1B01}, {{0x0002, 0x3B04, 0x2603}, 0x1B01}, {{0x0002, 0x3B04, 0x2604}, 0x1B01},
    {{0x0002, 0x3B04, 0x2609}, 0x1B01}, {{0x0002, 0x3B04, 0x2608}, 0x1B01}, {{0x0001, 0x0004}, 0x0005},
};
static_assert(sizeof kTargetPaths / sizeof kTargetPaths[0] == static_cast<size_t>(WeakTarget::Count));

AafProperty& Slot(AafObject& object, uint16_t pid, StoredForm form) {
    AafProperty* p = object.Find(pid);
    if (p == nullptr) {
        object.properties.push_back(AafProperty{});
        p = &object.properties.back();
        p->pid = pid;
    }
    p->form = form;
    return *p;
}

std::string ElementName(const std::string& collection, uint32_t key) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "{%x}", key);
    return collection + suffix;
}

void PutWeak(std::vector<uint8_t>& out, const WeakReference& ref) {
    PutU16(out, static_cast<uint16_t>(ref.target));
    PutU16(out, kTargetPaths[static_cast<size_t>(ref.target)].keyPid);
    out.push_back(static_cast<uint8_t>(ref.key.size()));
    out.insert(out.end(), ref.key.begin(), ref.key.end());
}

std::vector<uint8_t> SetKeyOf(const AafObject& element, uint16_t keyPid) {
    const AafProperty* key = element.Find(keyPid);
    return key != nullptr ? key->data : std::vector<uint8_t>{};
}

void StoreObject(const AafObject& object, CompoundNode& node);

void StoreCollection(const AafProperty& p, CompoundNode& parent) {
    std::vector<uint8_t> index;
    const uint32_t count = static_cast<uint32_t>(p.objects.size());
    PutU32(index, count);
    PutU32(index, count);  // the next free local key
    PutU32(index, kNoFreeKey);
    const bool set = p.form == StoredForm::StrongSet;
    size_t keySize = 0;
    if (set) {
        keySize = p.objects.empty() ? 16 : SetKeyOf(*p.objects[0], p.keyPid).size();
        PutU16(index, p.keyPid);
        index.push_back(static_cast<uint8_t>(keySize));
    }
    for (uint32_t i = 0; i < count; ++i) {
        PutU32(index, i);
        if (set) {
            PutU32(index, 1);  // references held on the element
            std::vector<uint8_t> key = SetKeyOf(*p.objects[i], p.keyPid);
            key.resize(keySize, 0);
            index.insert(index.end(), key.begin(), key.end());
        }
        StoreObject(*p.objects[i], *parent.AddStorage(ElementName(p.storageName, i), p.objects[i]->classId));
    }
    parent.AddStream(p.storageName + " index", std::move(index));
}

void StoreObject(const AafObject& object, CompoundNode& node) {
    std::vector<uint8_t> header, values;
    header.push_back(kLittleEndian);
    header.push_back(kPropertiesVersion);
    PutU16(header, static_cast<uint16_t>(object.properties.size()));
    for (const AafProperty& p : object.properties) {
        std::vector<uint8_t> value;
        switch (p.form) {
            case StoredForm::Data: value = p.data; break;
            case StoredForm::StrongRef:
                value = Utf16Z(p.storageName);
                if (!p.objects.empty())
                    StoreObject(*p.objects[0], *node.AddStorage(p.storageName, p.objects[0]->classId));
                break;
            case StoredForm::StrongVector:
            case StoredForm::StrongSet:
                value = Utf16Z(p.storageName);
                StoreCollection(p, node);
                break;
            case StoredForm::WeakRef:
                if (!p.weak.empty()) PutWeak(value, p.weak[0]);
                break;
            case StoredForm::WeakVector: {
                value = Utf16Z(p.storageName);
                std::vector<uint8_t> index;
                PutU32(index, static_cast<uint32_t>(p.weak.size()));
                const WeakTarget target = p.weak.empty() ? WeakTarget::TypeDefinitions : p.weak[0].target;
                PutU16(index, static_cast<uint16_t>(target));
                PutU16(index, kTargetPaths[static_cast<size_t>(target)].keyPid);
                index.push_back(16);
                for (const WeakReference& ref : p.weak) index.insert(index.end(), ref.key.begin(), ref.key.end());
                node.AddStream(p.storageName + " index", std::move(index));
                break;
            }
        }
        PutU16(header, p.pid);
        PutU16(header, static_cast<uint16_t>(p.form));
        PutU16(header, static_cast<uint16_t>(value.size()));
        values.insert(values.end(), value.begin(), value.end());
    }
    header.insert(header.end(), values.begin(), values.end());
    node.AddStream(kPropertiesStream, std::move(header));
}

std::vector<uint8_t> ReferencedProperties() {
    std::vector<uint8_t> pids;
    uint32_t pidCount = 0;
    for (const TargetPath& path : kTargetPaths) {
        for (uint16_t pid : path.pids) PutU16(pids, pid);
        PutU16(pids, 0);
        pidCount += static_cast<uint32_t>(path.pids.size()) + 1;
    }
    std::vector<uint8_t> out;
    out.push_back(kLittleEndian);
    PutU16(out, static_cast<uint16_t>(sizeof kTargetPaths / sizeof kTargetPaths[0]));
    PutU32(out, pidCount);
    out.insert(out.end(), pids.begin(), pids.end());
    return out;
}

// ---- Loading ----

bool Fail(std::string* why, const std::string& text) {
    if (why != nullptr && why->empty()) *why = text;
    return false;
}

std::unique_ptr<AafObject> LoadObject(const CompoundNode& node, std::string* why);

bool LoadCollection(const CompoundNode& parent, AafProperty& p, std::string* why) {
    const CompoundNode* index = parent.Child(p.storageName + " index");
    if (index == nullptr || index->bytes.size() < 12) return Fail(why, "no index for '" + p.storageName + "'");
    const std::vector<uint8_t>& b = index->bytes;
    const uint32_t count = GetU32(b.data());
    size_t at = 12, keySize = 0;
    if (p.form == StoredForm::StrongSet) {
        if (b.size() < 15) return Fail(why, "short set index '" + p.storageName + "'");
        p.keyPid = GetU16(b.data() + 12);
        keySize = b[14];
        at = 15;
    }
    const size_t entry = p.form == StoredForm::StrongSet ? 8 + keySize : 4;
    if (b.size() < at + count * entry) return Fail(why, "short index '" + p.storageName + "'");
    for (uint32_t i = 0; i < count; ++i, at += entry) {
        const CompoundNode* element = parent.Child(ElementName(p.storageName, GetU32(b.data() + at)));
        if (element == nullptr) return Fail(why, "missing element of '" + p.storageName + "'");
        std::unique_ptr<AafObject> object = LoadObject(*element, why);
        if (!object) return false;
        p.objects.push_back(std::move(object));
    }
    return true;
}

bool LoadWeak(const std::vector<uint8_t>& v, size_t at, WeakTarget target, AafProperty& p) {
    if (at + 16 > v.size()) return false;
    WeakReference ref;
    ref.target = target;
    std::copy(v.begin() + static_cast<long>(at), v.begin() + static_cast<long>(at) + 16, ref.key.begin());
    p.weak.push_back(ref);
    return true;
}

bool LoadProperty(const CompoundNode& node, AafProperty& p, std::string* why) {
    switch (p.form) {
        case StoredForm::StrongRef: {
            p.storageName = FromUtf16Z(p.data);
            const CompoundNode* child = node.Child(p.storageName);
            if (child == nullptr) return Fail(why, "missing storage '" + p.storageName + "'");
            std::unique_ptr<AafObject> object = LoadObject(*child, why);
            if (!object) return false;
            p.objects.push_back(std::move(object));
            return true;
        }
        case StoredForm::StrongVector:
        case StoredForm::StrongSet:
            p.storageName = FromUtf16Z(p.data);
            return LoadCollection(node, p, why);
        case StoredForm::WeakRef:
            if (p.data.size() != 21) return Fail(why, "malformed weak reference");
            return LoadWeak(p.data, 5, static_cast<WeakTarget>(GetU16(p.data.data())), p);
        case StoredForm::WeakVector: {
            p.storageName = FromUtf16Z(p.data);
            const CompoundNode* index = node.Child(p.storageName + " index");
            if (index == nullptr || index->bytes.size() < 9) return Fail(why, "no index for '" + p.storageName + "'");
            const std::vector<uint8_t>& b = index->bytes;
            const uint32_t count = GetU32(b.data());
            const auto target = static_cast<WeakTarget>(GetU16(b.data() + 4));
            for (uint32_t i = 0; i < count; ++i)
                if (!LoadWeak(b, 9 + 16 * i, target, p)) return Fail(why, "short index '" + p.storageName + "'");
            return true;
        }
        default: return true;
    }
}

std::unique_ptr<AafObject> LoadObject(const CompoundNode& node, std::string* why) {
    const CompoundNode* stream = node.Child(kPropertiesStream);
    if (stream == nullptr || stream->bytes.size() < 4 || stream->bytes[0] != kLittleEndian) {
        Fail(why, "no properties in '" + node.name + "'");
        return nullptr;
    }
    const std::vector<uint8_t>& b = stream->bytes;
    auto object = NewObject(node.classId);
    const size_t count = GetU16(b.data() + 2);
    size_t valueAt = 4 + 6 * count;
    if (b.size() < valueAt) {
        Fail(why, "short properties in '" + node.name + "'");
        return nullptr;
    }
    for (size_t i = 0; i < count; ++i) {
        AafProperty p;
        p.pid = GetU16(b.data() + 4 + 6 * i);
        p.form = static_cast<StoredForm>(GetU16(b.data() + 6 + 6 * i));
        const size_t length = GetU16(b.data() + 8 + 6 * i);
        if (valueAt + length > b.size()) {
            Fail(why, "short properties in '" + node.name + "'");
            return nullptr;
        }
        p.data.assign(b.begin() + static_cast<long>(valueAt), b.begin() + static_cast<long>(valueAt + length));
        valueAt += length;
        if (!LoadProperty(node, p, why)) return nullptr;
        object->properties.push_back(std::move(p));
    }
    return object;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

Auid ParseAuid(std::string_view text) {
    uint8_t raw[16] = {};
    int n = 0;
    for (size_t i = 0; i + 1 < text.size() + 1 && n < 16; ++i) {
        if (HexDigit(text[i]) < 0) continue;
        raw[n++] = static_cast<uint8_t>(HexDigit(text[i]) * 16 + HexDigit(text[i + 1]));
        ++i;
    }
    // Data1, Data2 and Data3 are stored little-endian, Data4 as written.
    return {raw[3], raw[2], raw[1], raw[0], raw[5], raw[4], raw[7], raw[6],
            raw[8], raw[9], raw[10], raw[11], raw[12], raw[13], raw[14], raw[15]};
}

std::string FormatAuid(const Auid& a) {
    char text[40];
    std::snprintf(text, sizeof text, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", a[3], a[2],
                  a[1], a[0], a[5], a[4], a[7], a[6], a[8], a[9], a[10], a[11], a[12], a[13], a[14], a[15]);
    return text;
}

const AafProperty* AafObject::Find(uint16_t pid) const {
    for (const AafProperty& p : properties)
        if (p.pid == pid) return &p;
    return nullptr;
}

AafProperty* AafObject::Find(uint16_t pid) {
    for (AafProperty& p : properties)
        if (p.pid == pid) return &p;
    return nullptr;
}

std::unique_ptr<AafObject> NewObject(const ClassId& classId) {
    auto object = std::make_unique<AafObject>();
    object->classId = classId;
    return object;
}

void PutU16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void PutI64(std::vector<uint8_t>& out, int64_t v) {
    const auto u = static_cast<uint64_t>(v);
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(u >> (8 * i)));
}

uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t GetU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

int64_t GetI64(const uint8_t* p) {
    uint64_t u = 0;
    for (int i = 7; i >= 0; --i) u = (u << 8) | p[i];
    return static_cast<int64_t>(u);
}

std::vector<uint8_t> Utf16Z(std::string_view utf8) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        uint32_t cp = c;
        int extra = 0;
        if (c >= 0xF0) cp = c & 0x07, extra = 3;
        else if (c >= 0xE0) cp = c & 0x0F, extra = 2;
        else if (c >= 0xC0) cp = c & 0x1F, extra = 1;
        ++i;
        for (int k = 0; k < extra && i < utf8.size(); ++k, ++i) cp = (cp << 6) | (static_cast<unsigned char>(utf8[i]) & 0x3F);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            PutU16(out, static_cast<uint16_t>(0xD800 + (cp >> 10)));
            PutU16(out, static_cast<uint16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            PutU16(out, static_cast<uint16_t>(cp));
        }
    }
    PutU16(out, 0);
    return out;
}

std::string FromUtf16Z(const std::vector<uint8_t>& bytes) {
    std::string out;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        uint32_t cp = GetU16(bytes.data() + i);
        if (cp == 0) break;
        if (cp >= 0xD800 && cp < 0xDC00 && i + 3 < bytes.size()) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (GetU16(bytes.data() + i + 2) - 0xDC00);
            i += 2;
        }
        AppendUtf8(out, static_cast<char32_t>(cp));
    }
    return out;
}

void SetData(AafObject& object, uint16_t pid, std::vector<uint8_t> bytes) {
    Slot(object, pid, StoredForm::Data).data = std::move(bytes);
}

void SetString(AafObject& object, uint16_t pid, std::string_view utf8) { SetData(object, pid, Utf16Z(utf8)); }

void SetAuid(AafObject& object, uint16_t pid, const Auid& value) {
    SetData(object, pid, std::vector<uint8_t>(value.begin(), value.end()));
}

void SetBool(AafObject& object, uint16_t pid, bool value) { SetData(object, pid, {static_cast<uint8_t>(value)}); }
void SetU8(AafObject& object, uint16_t pid, uint8_t value) { SetData(object, pid, {value}); }

void SetU16(AafObject& object, uint16_t pid, uint16_t value) {
    std::vector<uint8_t> b;
    PutU16(b, value);
    SetData(object, pid, std::move(b));
}

void SetU32(AafObject& object, uint16_t pid, uint32_t value) {
    std::vector<uint8_t> b;
    PutU32(b, value);
    SetData(object, pid, std::move(b));
}

void SetI64(AafObject& object, uint16_t pid, int64_t value) {
    std::vector<uint8_t> b;
    PutI64(b, value);
    SetData(object, pid, std::move(b));
}

void SetRational(AafObject& object, uint16_t pid, int32_t numerator, int32_t denominator) {
    std::vector<uint8_t> b;
    PutU32(b, static_cast<uint32_t>(numerator));
    PutU32(b, static_cast<uint32_t>(denominator));
    SetData(object, pid, std::move(b));
}

void SetWeak(AafObject& object, uint16_t pid, WeakTarget target, const Auid& key) {
    AafProperty& p = Slot(object, pid, StoredForm::WeakRef);
    p.weak = {WeakReference{target, key}};
}

void SetWeakVector(AafObject& object, uint16_t pid, const std::string& name, WeakTarget target,
                   std::vector<Auid> keys) {
    AafProperty& p = Slot(object, pid, StoredForm::WeakVector);
    p.storageName = name;
    p.weak.clear();
    for (const Auid& key : keys) p.weak.push_back(WeakReference{target, key});
}

AafObject* SetStrong(AafObject& object, uint16_t pid, const std::string& name, std::unique_ptr<AafObject> child) {
    AafProperty& p = Slot(object, pid, StoredForm::StrongRef);
    p.storageName = name;
    p.objects.clear();
    p.objects.push_back(std::move(child));
    return p.objects.back().get();
}

AafObject* AppendStrong(AafObject& object, uint16_t pid, const std::string& name, std::unique_ptr<AafObject> child) {
    AafProperty& p = Slot(object, pid, StoredForm::StrongVector);
    p.storageName = name;
    p.objects.push_back(std::move(child));
    return p.objects.back().get();
}

AafObject* AddToSet(AafObject& object, uint16_t pid, const std::string& name, uint16_t keyPid,
                    std::unique_ptr<AafObject> child) {
    AafProperty& p = Slot(object, pid, StoredForm::StrongSet);
    p.storageName = name;
    p.keyPid = keyPid;
    p.objects.push_back(std::move(child));
    return p.objects.back().get();
}

void SetEmptyCollection(AafObject& object, uint16_t pid, const std::string& name, StoredForm form, uint16_t keyPid) {
    AafProperty& p = Slot(object, pid, form);
    p.storageName = name;
    p.keyPid = keyPid;
    p.objects.clear();
}

std::unique_ptr<CompoundNode> StoreAafFile(const AafObject& root, const ClassId& fileKind) {
    auto node = std::make_unique<CompoundNode>();
    node->classId = fileKind;
    StoreObject(root, *node);
    node->AddStream(kReferencedProperties, ReferencedProperties());
    return node;
}

std::unique_ptr<AafObject> LoadAafFile(const CompoundNode& root, std::string* why) {
    return LoadObject(root, why);
}

}  // namespace morvane
