#include "aaf/compound_file.h"

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-stdio.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-stdio.h>
#include <gsf/gsf-utils.h>

#include <mutex>

namespace morvane {

namespace {

// libgsf's type system must be set up once per process before its first object.
void InitGsf() {
    static std::once_flag once;
    std::call_once(once, [] { gsf_init(); });
}

std::string TakeError(GError* err, const char* fallback) {
    std::string text = err != nullptr && err->message != nullptr ? err->message : fallback;
    if (err != nullptr) g_error_free(err);
    return text;
}

bool WriteChildren(GsfOutfile* dir, const CompoundNode& node, std::string* why) {
    for (const auto& child : node.children) {
        GsfOutput* out = gsf_outfile_new_child(dir, child->name.c_str(), child->storage ? TRUE : FALSE);
        if (out == nullptr) {
            *why = "cannot add '" + child->name + "'";
            return false;
        }
        bool ok = true;
        if (child->storage) {
            gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(out), child->classId.data());
            ok = WriteChildren(GSF_OUTFILE(out), *child, why);
        } else if (!child->bytes.empty()) {
            ok = gsf_output_write(out, child->bytes.size(), child->bytes.data()) != FALSE;
            if (!ok) *why = "cannot write the stream '" + child->name + "'";
        }
        if (gsf_output_close(out) == FALSE && ok) {
            *why = "cannot finish '" + child->name + "'";
            ok = false;
        }
        g_object_unref(out);
        if (!ok) return false;
    }
    return true;
}

std::unique_ptr<CompoundNode> ReadNode(GsfInput* input, const char* name) {
    auto node = std::make_unique<CompoundNode>();
    node->name = name != nullptr ? name : "";
    GsfInfile* dir = GSF_IS_INFILE(input) ? GSF_INFILE(input) : nullptr;
    // An empty storage and an empty stream look alike to libgsf; storages report
    // children or a class id, streams bytes.
    if (dir != nullptr && gsf_infile_num_children(dir) >= 0) {
        node->storage = true;
        if (GSF_IS_INFILE_MSOLE(input)) gsf_infile_msole_get_class_id(GSF_INFILE_MSOLE(input), node->classId.data());
        const int count = gsf_infile_num_children(dir);
        for (int i = 0; i < count; ++i) {
            GsfInput* child = gsf_infile_child_by_index(dir, i);
            if (child == nullptr) continue;
            node->children.push_back(ReadNode(child, gsf_infile_name_by_index(dir, i)));
            g_object_unref(child);
        }
        return node;
    }
    node->storage = false;
    const gsf_off_t size = gsf_input_size(input);
    node->bytes.resize(static_cast<size_t>(size));
    if (size > 0 && gsf_input_read(input, static_cast<size_t>(size), node->bytes.data()) == nullptr)
        node->bytes.clear();
    return node;
}

}  // namespace

CompoundNode* CompoundNode::AddStorage(const std::string& childName, const ClassId& id) {
    auto child = std::make_unique<CompoundNode>();
    child->name = childName;
    child->classId = id;
    children.push_back(std::move(child));
    return children.back().get();
}

CompoundNode* CompoundNode::AddStream(const std::string& childName, std::vector<uint8_t> data) {
    auto child = std::make_unique<CompoundNode>();
    child->name = childName;
    child->storage = false;
    child->bytes = std::move(data);
    children.push_back(std::move(child));
    return children.back().get();
}

const CompoundNode* CompoundNode::Child(const std::string& childName) const {
    for (const auto& child : children)
        if (child->name == childName) return child.get();
    return nullptr;
}

bool WriteCompoundFile(const std::string& path, const CompoundNode& root, CompoundWriteError* error) {
    InitGsf();
    CompoundWriteError local;
    CompoundWriteError& e = error != nullptr ? *error : local;
    GError* err = nullptr;
    GsfOutput* sink = gsf_output_stdio_new(path.c_str(), &err);
    if (sink == nullptr) {
        e.openFailed = true;
        e.why = TakeError(err, "cannot create the file");
        return false;
    }
    GsfOutfile* ole = gsf_outfile_msole_new_full(sink, 512, 64);
    g_object_unref(sink);
    if (ole == nullptr) {
        e.openFailed = true;
        e.why = "cannot start a compound file";
        return false;
    }
    gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(ole), root.classId.data());
    bool ok = WriteChildren(ole, root, &e.why);
    if (gsf_output_close(GSF_OUTPUT(ole)) == FALSE && ok) {
        const GError* closeError = gsf_output_error(GSF_OUTPUT(ole));
        e.why = closeError != nullptr && closeError->message != nullptr ? closeError->message : "cannot finish the file";
        ok = false;
    }
    g_object_unref(ole);
    return ok;
}

std::unique_ptr<CompoundNode> ReadCompoundFile(const std::string& path, std::string* why) {
    InitGsf();
    GError* err = nullptr;
    GsfInput* source = gsf_input_stdio_new(path.c_str(), &err);
    if (source == nullptr) {
        if (why != nullptr) *why = TakeError(err, "cannot open the file");
        return nullptr;
    }
    GsfInfile* ole = gsf_infile_msole_new(source, &err);
    g_object_unref(source);
    if (ole == nullptr) {
        if (why != nullptr) *why = TakeError(err, "not a compound file");
        return nullptr;
    }
    std::unique_ptr<CompoundNode> root = ReadNode(GSF_INPUT(ole), "");
    g_object_unref(ole);
    return root;
}

}  // namespace morvane
