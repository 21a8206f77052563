// The about box on Windows: a modal Win32 dialog drawn from the about-box model.
#pragma once

#include "korvelcom/ui/AboutBox.h"

namespace korvel::com {

/// Shows `box` modally with no owner window and returns when it has been closed (by "Exit",
/// the close button or Escape).  "Help" acts as F1 does: it opens the model's help file with
/// the system's help viewer when the file exists, and the box stays open.
void showAboutBox(const ui::AboutBox& box);

/// The dialog's control ids: 100 plus the row of the model's layout, so a program driving the
/// box finds each label by its row.
inline constexpr int kAboutFirstId = 100;

}  // namespace korvel::com
