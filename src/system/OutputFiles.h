// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Output names that no other job holds, and the private work folder of a job.
//
// A name is taken while anything has it (a file, a folder, a link) or while the
// work folder of a job that writes it (".NAME.parts" beside it) exists: that
// job may still be running, and its file appears under the name only when it
// has finished. Two jobs therefore never write one file, nor share one folder.

#include "system/ZQ_FileSystem.h"

#include <optional>
#include <string>

// The work folder of a job whose output is outputFile: ".<name>.parts" beside it.
std::string EngineWorkDir(const std::string& outputFile);

// True when the name is taken as described above.
bool IsOutputNameTaken(const std::string& path);

// The path when it is free, else the first free numbered variant ("NAME_01.mp4",
// "NAME_02.mp4", ...); empty when all variants up to _10000 are taken.
std::string GetUniqueFileName(const std::string& path);

// Takes the first free variant of path for a new job, at once and for good, so
// that a second job started a moment later gets another name: a job through
// the page engine by making its work folder, any other by creating the file
// (empty). Empty when no name could be taken.
std::string ReserveOutputFile(const std::string& path, bool throughEngine);
// Takes exactly this name again for a job whose file has gone: creates it
// empty, never over anything; its identity, or nothing when the name is taken.
std::optional<TFileId> RemakeOutputFile(const std::string& path);
// Gives back a name that was reserved but will not be used: only an empty
// folder or an empty file goes.
void ReleaseOutputFile(const std::string& path, bool throughEngine);
