#pragma once
// Windows-style path text, as configuration files and callers hold it
// (".\link.ini", "orders.txt", "C:\QOR2\DATA\orders.txt", "\DATA\x", "..\x",
// "\\SERVER\SHARE\x", "\" and "/" mixed), mapped to the path the file
// services of this target take. The logic keeps Windows path text throughout
// (it splits and joins at "\" and ":") and maps it here, in one place, just
// before a file is opened or a folder created.
#include <string>

namespace qor::platform {

// The file path for path text. Relative text stays relative to the current
// directory of the process ("x.ini" and ".\x.ini" name the same file).
//
// win32: "/" becomes "\", and a bare file name gets ".\" in front, so that
//        services that would look elsewhere for a bare name (the profile
//        functions look in the Windows directory) use the current directory.
// native: "\" becomes "/"; the case of every component is kept.
//        "C:\DIR\F" (any drive letter, either case) is <drive root>/c/DIR/F,
//        and "C:F" the same as "C:\F"; "\DIR\F" is on drive C, the usual
//        current drive of Windows; "\\SERVER\SHARE\F" is
//        <drive root>/unc/SERVER/SHARE/F; text that starts with "/" is a
//        native absolute path already and is only cleaned of "\".
//        The drive root is $QOR_DRIVE_ROOT, else $XDG_DATA_HOME/qor/drives,
//        else ~/.local/share/qor/drives. A drive's folder is created when a
//        path on it is mapped: on Windows a drive is always there.
// Mapping a mapped path again gives it unchanged. Empty text stays empty.
std::string native_path(const std::string& text);

// The inverse, for showing a native path as configuration would hold it:
// a path under a drive's folder becomes "C:\...", one under the UNC folder
// "\\SERVER\SHARE\...", a relative path uses "\"; other absolute native
// paths are returned unchanged (they map back to themselves). On win32 the
// path is returned unchanged.
std::string path_text(const std::string& native);

}  // namespace qor::platform
