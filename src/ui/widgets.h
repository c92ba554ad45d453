#pragma once
// Small drawing pieces every panel shares, so the tabs look and behave alike.
// Interface thread, inside a frame.

namespace morvane {

// A section's title in the medium face with a rule under it.
void SectionTitle(const char* text);
// The text as a tooltip while the item just drawn is hovered, disabled or not (a
// disabled control says why it is disabled).
void Tooltip(const char* text);

}  // namespace morvane
