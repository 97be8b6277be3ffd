// Module Common: the two typing conveniences both dialogs share. They work
// on the platform's own controls and keep no state between calls.
#pragma once

#include <windows.h>

namespace cardkeep::Common {

// Selects the whole text of the control that has the focus on this thread,
// so that typing replaces it. Any control that takes a selection the way an
// edit does is served; anything else, or no focus at all, is passed over
// without a word.
void SelectActiveControlText();

// Completes what is typed into an editable combo box with the first list
// entry that begins with it, called before the character reaches the box.
// keyCode is the character's UTF-16 code; it is set to 0 when the routine has
// completed the text itself, and the caller must then drop the keystroke.
// Setting the list index counts as choosing the entry: the box's parent gets
// CBN_SELCHANGE at once, before the completed text is put in, since the
// platform sends none for a selection made by a program.
// Anything but a drop-down or simple combo box is left alone.
void ComboAutoComplete(HWND combo, SHORT& keyCode);

}  // namespace cardkeep::Common
