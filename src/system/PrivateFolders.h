// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Folders of a run's own: held while the run uses them, and cleared away later
// when the run that made them has gone without clearing them (killed, crashed).

#include <functional>
#include <string>
#include <string_view>

// A run's hold on a folder: a lock on a file in it (holdName), which lasts as
// long as the object or the process, however the process ends. While one run
// holds a folder, no other run of this user takes it or clears it away.
class TFolderHold {
public:
    enum class TResult { Held, Busy, Failed };
    TFolderHold(const std::string& dir, const std::string& holdName);
    ~TFolderHold();
    TFolderHold(const TFolderHold&) = delete;
    TFolderHold& operator=(const TFolderHold&) = delete;
    TResult Result() const { return result_; }

private:
    int fd_ = -1;
    TResult result_ = TResult::Failed;
};

// True when the folder is this user's own: a folder (not a link) that only
// this user may enter (mode 0700).
bool IsPrivateFolder(const std::string& dir);

// A private folder of this user's for what running programs share with each
// other ("brimtale-USER-NAME" in the runtime or temporary folder), made when
// missing; empty when there can't be one.
std::string UserRuntimeFolder(const std::string& name);

// The system's folder for temporary files ($TMPDIR or /tmp; the user's TEMP).
std::string TemporaryFolder();
// Makes a new folder only this user may enter in parent, named prefix and six
// random characters; its path, or empty when it can't.
std::string MakeUniquePrivateFolder(const std::string& parent, const std::string& prefix);
// The same in TemporaryFolder().
std::string MakePrivateTempFolder(const std::string& prefix);

// Calls action for each folder in parent whose name starts with prefix, that
// is private (see IsPrivateFolder) and has a hold file that no live run
// holds; the folder is held while action runs. Gives how many there were.
int ForEachStaleFolder(const std::string& parent, std::string_view prefix, const std::string& holdName,
                       const std::function<void(const std::string& dir)>& action);
// Removes such folders (of unique names, which no run takes again) with
// everything in them, each after its hold is given up; how many went.
int RemoveStaleFolders(const std::string& parent, std::string_view prefix, const std::string& holdName);
