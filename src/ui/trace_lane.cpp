#include "ui/trace_lane.h"

#include <imgui.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/trace_session.h"
#include "model/project_lifecycle.h"
#include "trace/analysis.h"
#include "trace/trace_results.h"
#include "ui/panels.h"

namespace morvane {

namespace {

constexpr float kLaneHeight = 64.0f;
constexpr float kHeadRoom = 4.0f;       // above the strongest proposal
constexpr float kProposalHalfWidth = 4.0f;
constexpr float kSliceGrip = 4.0f;      // pixels either side of the slice line
constexpr float kReviewButtonWidth = 52.0f;

// The proposal under review (its index in the project's read), -1 for none.
int gReviewed = -1;

float ValueToY(const TraceLaneArea& lane, float value) {
    return lane.y + lane.h - 2.0f - std::clamp(value, 0.0f, 1.0f) * (lane.h - 2.0f - kHeadRoom);
}

float YToValue(const TraceLaneArea& lane, float y) {
    return std::clamp((lane.y + lane.h - 2.0f - y) / (lane.h - 2.0f - kHeadRoom), 0.0f, 1.0f);
}

float TimeToX(const TraceLaneArea& lane, float t) { return lane.x + (t - lane.scroll) * lane.pps; }

// What the lane shows of the read, this frame.
struct LaneView {
    std::vector<float> strength;  // per proposal
    std::vector<char> kept;       // per proposal: on the kept side of the slice
    int keptCount = 0;
};

LaneView ViewOf(const TraceResults& optical) {
    LaneView v;
    std::vector<TraceEvent> proposals;
    for (const OpticalEvent& e : optical.events) proposals.push_back(TraceEventFromOptical(e));
    for (const TraceEvent& e : proposals) v.strength.push_back(TraceEventStrength(e));
    v.kept.assign(proposals.size(), 0);
    for (int i : EventsKeptBySlice(proposals, optical.opticalDetail, optical.traceKeepAbove)) v.kept[static_cast<size_t>(i)] = 1;
    v.keptCount = static_cast<int>(std::count(v.kept.begin(), v.kept.end(), 1));
    return v;
}

std::string FlipText(const TraceResults& optical, int keptCount) {
    char text[96];
    std::snprintf(text, sizeof text, "Keeping %s the line \xE2\x80\x94 %d events. Click to flip.",
                  optical.traceKeepAbove ? "above" : "below", keptCount);
    return text;
}

ImVec2 FlipTextPos(const TraceLaneArea& lane, const std::string& text) {
    const ImVec2 size = ImGui::CalcTextSize(text.c_str());
    return ImVec2(lane.x + lane.w - size.x - 8.0f, lane.y + 2.0f);
}

// The bar of proposal i: from the lane's floor up to its strength.
void ProposalRect(const TraceLaneArea& lane, float time, float strength, ImVec2* a, ImVec2* b) {
    const float x = TimeToX(lane, time);
    *a = ImVec2(x - kProposalHalfWidth, ValueToY(lane, strength) - kProposalHalfWidth);
    *b = ImVec2(x + kProposalHalfWidth, lane.y + lane.h);
}

// The Accept and Reject buttons of the proposal under review, beside its bar.
void ReviewButtons(const TraceLaneArea& lane, float time, ImVec2* accept, ImVec2* reject) {
    const float x = std::clamp(TimeToX(lane, time) + 8.0f, lane.x, lane.x + lane.w - 2 * kReviewButtonWidth - 4.0f);
    const float y = lane.y + lane.h - ImGui::GetFrameHeight() - 2.0f;
    *accept = ImVec2(x, y);
    *reject = ImVec2(x + kReviewButtonWidth + 4.0f, y);
}

bool Visible(const TraceLaneArea& lane, float time) {
    const float x = TimeToX(lane, time);
    return x >= lane.x - kProposalHalfWidth && x <= lane.x + lane.w + kProposalHalfWidth;
}

void HandleReview(const TraceLaneArea& lane, const TraceResults& optical) {
    if (gReviewed < 0 || gReviewed >= static_cast<int>(optical.events.size()) || optical.events[gReviewed].accepted) {
        gReviewed = -1;
        return;
    }
    ImVec2 accept, reject;
    ReviewButtons(lane, optical.events[gReviewed].time, &accept, &reject);
    const ImVec2 size(kReviewButtonWidth, ImGui::GetFrameHeight());
    ImGui::SetCursorScreenPos(accept);
    const bool accepted = ImGui::InvisibleButton("##accept-proposal", size);
    RegisterLastItem("proposal-accept");
    ImGui::SetCursorScreenPos(reject);
    const bool rejected = ImGui::InvisibleButton("##reject-proposal", size);
    RegisterLastItem("proposal-reject");
    if (accepted && AcceptTraceProposal(gReviewed)) SetStatus("Proposal accepted", kStatusSeconds);
    if (rejected && RejectTraceProposal(gReviewed)) SetStatus("Proposal rejected", kStatusSeconds);
    if (accepted || rejected) gReviewed = -1;
}

// Scripted input names each proposal "proposal:I" (its index in the read) and each one
// not accepted yet "pending:K" as well (the K-th of those), since which are accepted
// depends on the slice.
void HandleProposals(const TraceLaneArea& lane, const TraceResults& optical, const LaneView& view) {
    int rejectNow = -1, pending = 0;
    for (size_t i = 0; i < optical.events.size(); ++i) {
        const OpticalEvent& e = optical.events[i];
        if (!Visible(lane, e.time)) continue;
        ImVec2 a, b;
        ProposalRect(lane, e.time, view.strength[i], &a, &b);
        ImGui::SetCursorScreenPos(a);
        ImGui::PushID(static_cast<int>(i));
        if (ImGui::InvisibleButton("##proposal", ImVec2(b.x - a.x, b.y - a.y)) && !e.accepted) gReviewed = static_cast<int>(i);
        if (ImGui::IsItemHovered() && ImGui::IsMouseClicked(ImGuiMouseButton_Right)) rejectNow = static_cast<int>(i);
        if (ImGui::IsItemHovered())
            ImGui::SetTooltip("%s at %.2f s%s", TraceEventTypeName(e.type), e.time,
                              e.accepted ? " (accepted)" : " \xE2\x80\x94 click to review, right-click to reject");
        ImGui::PopID();
        RegisterLastItem(("proposal:" + std::to_string(i)).c_str());
        if (!e.accepted) RegisterLastItem(("pending:" + std::to_string(pending++)).c_str());
    }
    if (rejectNow >= 0 && RejectTraceProposal(rejectNow)) {
        SetStatus("Proposal rejected", kStatusSeconds);
        gReviewed = -1;
    }
}

void HandleSlice(const TraceLaneArea& lane, const TraceResults& optical, const LaneView& view) {
    const std::string text = FlipText(optical, view.keptCount);
    ImGui::SetCursorScreenPos(FlipTextPos(lane, text));
    if (ImGui::InvisibleButton("##trace-flip", ImGui::CalcTextSize(text.c_str()))) FlipSliceSide();
    RegisterLastItem("trace-flip");

    const float y = ValueToY(lane, optical.opticalDetail);
    ImGui::SetCursorScreenPos(ImVec2(lane.x, y - kSliceGrip));
    ImGui::InvisibleButton("##trace-slice", ImVec2(lane.w, 2 * kSliceGrip));
    RegisterLastItem("trace-slice");
    if (ImGui::IsItemActive()) SetSliceLevel(YToValue(lane, ImGui::GetIO().MousePos.y));
    if (ImGui::IsItemHovered() || ImGui::IsItemActive()) {
        ImGui::SetMouseCursor(ImGuiMouseCursor_ResizeNS);
        ImGui::SetTooltip("Slice level \xE2\x80\x94 drag to move (no snapping)");
    }
}

void DrawEnergy(ImDrawList* draw, const TraceLaneArea& lane, const TraceResults& optical) {
    if (optical.frames.empty() || optical.fps <= 0) return;
    const float peak = std::max(optical.maxCompositeEnergy, 1e-6f);
    // At most about one point per pixel: a long read has far more frames than pixels.
    const float first = std::max(0.0f, lane.scroll), last = lane.scroll + lane.w / lane.pps;
    const int from = std::max(0, static_cast<int>(first * optical.fps) - 1);
    const int to = std::min(static_cast<int>(optical.frames.size()) - 1, static_cast<int>(last * optical.fps) + 1);
    const int step = std::max(1, static_cast<int>(optical.fps / std::max(lane.pps, 1e-3f)));
    std::vector<ImVec2> points;
    for (int i = from; i <= to; i += step) {
        const OpticalFrame& f = optical.frames[static_cast<size_t>(i)];
        points.push_back(ImVec2(TimeToX(lane, f[0]), ValueToY(lane, f[8] / peak)));
    }
    if (points.size() >= 2)
        draw->AddPolyline(points.data(), static_cast<int>(points.size()), IM_COL32(90, 130, 180, 160), ImDrawFlags_None, 1.0f);
}

void DrawProposals(ImDrawList* draw, const TraceLaneArea& lane, const TraceResults& optical, const LaneView& view) {
    for (size_t i = 0; i < optical.events.size(); ++i) {
        const OpticalEvent& e = optical.events[i];
        if (!Visible(lane, e.time)) continue;
        ImVec2 a, b;
        ProposalRect(lane, e.time, view.strength[i], &a, &b);
        const ImU32 ink = e.accepted ? IM_COL32(120, 200, 140, 255) : view.kept[i] ? IM_COL32(235, 190, 90, 255) : IM_COL32(110, 114, 124, 220);
        const float x = (a.x + b.x) * 0.5f;
        draw->AddLine(ImVec2(x, b.y), ImVec2(x, a.y + kProposalHalfWidth), ink, 2.0f);
        draw->AddCircleFilled(ImVec2(x, a.y + kProposalHalfWidth), 3.5f, ink);
        if (static_cast<int>(i) == gReviewed) draw->AddCircle(ImVec2(x, a.y + kProposalHalfWidth), 6.0f, IM_COL32(255, 255, 255, 255), 0, 1.5f);
    }
}

void DrawReviewButtons(ImDrawList* draw, const TraceLaneArea& lane, const TraceResults& optical) {
    if (gReviewed < 0 || gReviewed >= static_cast<int>(optical.events.size())) return;
    ImVec2 accept, reject;
    ReviewButtons(lane, optical.events[gReviewed].time, &accept, &reject);
    const float h = ImGui::GetFrameHeight();
    auto button = [&](ImVec2 at, const char* label, ImU32 fill) {
        draw->AddRectFilled(at, ImVec2(at.x + kReviewButtonWidth, at.y + h), fill, 3.0f);
        const ImVec2 size = ImGui::CalcTextSize(label);
        draw->AddText(ImVec2(at.x + (kReviewButtonWidth - size.x) * 0.5f, at.y + (h - size.y) * 0.5f), IM_COL32(240, 242, 246, 255), label);
    };
    button(accept, "Accept", IM_COL32(60, 120, 80, 255));
    button(reject, "Reject", IM_COL32(130, 60, 60, 255));
}

}  // namespace

float TraceLaneHeight(const Project& project) { return project.optical.present ? kLaneHeight : 0.0f; }

void HandleTraceLane(const TraceLaneArea& lane) {
    const TraceResults& optical = CurrentProject().optical;
    if (lane.h <= 0 || !optical.present) {
        gReviewed = -1;
        return;
    }
    const LaneView view = ViewOf(optical);
    // The review buttons and the proposals before the slice, so they win where they overlap.
    HandleReview(lane, optical);
    HandleProposals(lane, optical, view);
    HandleSlice(lane, optical, ViewOf(optical));  // after a rejection the proposals have changed
}

void DrawTraceLane(ImDrawList* draw, const TraceLaneArea& lane) {
    const TraceResults& optical = CurrentProject().optical;
    if (lane.h <= 0 || !optical.present) return;
    const LaneView view = ViewOf(optical);
    draw->PushClipRect(ImVec2(lane.namesX, lane.y), ImVec2(lane.x + lane.w, lane.y + lane.h), false);
    draw->AddRectFilled(ImVec2(lane.x, lane.y), ImVec2(lane.x + lane.w, lane.y + lane.h - 1), IM_COL32(22, 26, 31, 255));
    draw->AddText(ImVec2(lane.namesX + 8, lane.y + 4), IM_COL32(150, 156, 166, 255), "Trace");
    draw->PushClipRect(ImVec2(lane.x, lane.y), ImVec2(lane.x + lane.w, lane.y + lane.h), true);
    DrawEnergy(draw, lane, optical);
    DrawProposals(draw, lane, optical, view);
    const float y = ValueToY(lane, optical.opticalDetail);
    draw->AddLine(ImVec2(lane.x, y), ImVec2(lane.x + lane.w, y), IM_COL32(240, 120, 80, 220), 1.5f);
    const std::string text = FlipText(optical, view.keptCount);
    const ImVec2 at = FlipTextPos(lane, text), size = ImGui::CalcTextSize(text.c_str());
    draw->AddRectFilled(ImVec2(at.x - 4, at.y), ImVec2(at.x + size.x + 4, at.y + size.y), IM_COL32(22, 26, 31, 220), 3.0f);
    draw->AddText(at, IM_COL32(220, 200, 150, 255), text.c_str());
    DrawReviewButtons(draw, lane, optical);
    draw->PopClipRect();
    draw->PopClipRect();
}

}  // namespace morvane
