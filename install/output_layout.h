// Where the run reads and writes: each path is its root followed directly by
// a fixed part. The game folder and the temporary-files folder end in "\";
// an empty root leaves the fixed part alone, relative to the current folder.
#pragma once

#include <string_view>

#include "runtime/types.h"
#include "runtime/values.h"

// Under the game folder; "Thistlegarden_Data" is fixed, whatever the
// executable is called.
inline constexpr std::string_view kAssemblyPart = "Thistlegarden_Data\\Managed\\Assembly-CSharp.dll";

// Under the temporary-files folder.
inline constexpr std::string_view kBackupPart = "Thistlegarden补丁程序\\Assembly-CSharp.dll";
inline constexpr std::string_view kComparisonFolderPart = "Thistlegarden补丁程序\\补丁对比图";
inline constexpr std::string_view kMarkerFilePart =
    "Thistlegarden补丁程序\\补丁对比图\\该文件夹没用可以直接删除";
inline constexpr std::string_view kBeforeImagePart = "Thistlegarden补丁程序\\补丁对比图\\安装前.PNG";
inline constexpr std::string_view kAfterImagePart = "Thistlegarden补丁程序\\补丁对比图\\安装后.PNG";

// The player's original assembly, kept beside it (under the game folder)
// as kKeptOriginalPart, the version label, then (from the second one of a
// version on) "-" and a number, then kKeptOriginalEnd; written first as the
// draft. The temporary-files folder is emptied by Windows' own clean-up; the
// game's folder is not. Unity loads no file of that ending.
inline constexpr std::string_view kKeptOriginalPart = "Thistlegarden_Data\\Managed\\原版Assembly-CSharp-";
inline constexpr std::string_view kKeptOriginalEnd = ".dll.bak";
inline constexpr std::string_view kKeptOriginalDraftPart =
    "Thistlegarden_Data\\Managed\\原版Assembly-CSharp.dll.patch-new";
// Which kept original each patch replaced (fsproc/kept_record.h), beside
// the kept originals.
inline constexpr std::string_view kKeptRecordPart = "Thistlegarden_Data\\Managed\\原版Assembly-CSharp记录.txt";
// Where an earlier build of the installer set the original aside.
inline constexpr std::string_view kAsideSuffix = ".aside1";


inline Text GameAssemblyPath(std::string_view gameFolder) { return JoinPath(gameFolder, kAssemblyPart); }
inline Text BackupPath(std::string_view tempFolder) { return JoinPath(tempFolder, kBackupPart); }
// No trailing "\".
inline Text ComparisonFolderPath(std::string_view tempFolder) {
  return JoinPath(tempFolder, kComparisonFolderPart);
}
inline Text MarkerFilePath(std::string_view tempFolder) { return JoinPath(tempFolder, kMarkerFilePart); }
inline Text BeforeImagePath(std::string_view tempFolder) { return JoinPath(tempFolder, kBeforeImagePart); }
inline Text AfterImagePath(std::string_view tempFolder) { return JoinPath(tempFolder, kAfterImagePart); }
