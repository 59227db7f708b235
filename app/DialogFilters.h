#pragma once
// The filters of the open dialog and of the save dialogs, in the form Qt's file dialogs read:
// "description (*.a *.b);;...".

#include <string>
#include <string_view>

namespace nolvi2 {

// A filter "desc|*.a;*.b|..." in Qt's form. A description that already ends with its
// patterns in parentheses keeps them (written with spaces, as Qt reads them); any other gets
// them appended, so each entry shows its patterns once. The PNG codec's English name becomes
// the Japanese description the dialogs use.
std::string QtFilter(std::string_view filter);

// Everything readable (the plug-ins' formats, then the decoders' own; BMP files are reached
// through "all files"), and the save filter of BMP or JPEG (that format's extensions alone).
std::string OpenDialogFilter();
std::string SaveDialogFilter(bool jpeg);

}  // namespace nolvi2
