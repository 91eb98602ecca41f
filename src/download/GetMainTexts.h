// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The download window's texts in English and Polish, including the words the
// download thread and the conversion use later.

struct TGetMainTexts {
    const char* DownloadWord;     // caption and title while downloading, followed by "..."
    const char* ConvertWord;      // caption while converting, followed by "..."
    const char* Abort;            // the button while work runs
    const char* Close;            // the button when the work has ended
    const char* Downloaded;       // first word of the success title
    const char* ConnectionError;  // failure title
    const char* FileConverted;    // conversion success
    const char* UrlLabel;
    const char* FileLabel;
    const char* SizeLabel;
    const char* ProgressLabel;
    const char* AutoClose;
    const char* DeleteQuestionBefore;  // "Delete incomplete file \""
    const char* DeleteQuestionAfter;   // "\"?"
    const char* Aborted;               // conversion aborted
    const char* ErrorPrefix;           // "Error ("
    const char* FrameWord;             // "Frame "
    const char* CompleteWord;          // "Complete: "
    const char* SameInputOutput;       // conversion onto its own input
    const char* NoConversion;          // a local file with no conversion chosen
    const char* Retrying;              // "Retrying", then " 1/3..."
    const char* Retry;                 // the button after every try failed
    const char* TimeLeftBefore;        // around the time left: "12 MB/s - " + before + time + after
    const char* TimeLeftAfter;
    const char* Merging;               // the page engine joins video and audio, followed by "..."
    const char* EngineFailed;          // the page engine gave up, followed by ": " and its reason
    // The desktop notification's summary when the work has ended.
    const char* NoticeDownloaded;
    const char* NoticeDownloadFailed;
    const char* NoticeConverted;
    const char* NoticeConversionFailed;
    const char* PartialKept;           // after Abort or a failure, followed by the partial file's path
    const char* DiskFull;              // followed by the folder
    const char* NoFreeName;            // no free name for the output, followed by the name
    const char* NoOutput;              // the encoder ended well but wrote nothing
    const char* CannotWrite;           // followed by the file
    const char* FileChanged;           // another file is at the job's name, followed by it
    const char* StatusLabel;           // the progress line's label while converting
};

#include <cstdint>
#include <string>

// The speed, and with a known remaining size the time left: "1.5 MB/s - 0:42
// left". A speed of 0 (not known yet) gives a dash, "—", and with a known
// total size "— - — left".
std::string TransferSpeedText(double bytesPerSecond, std::int64_t secondsLeft, bool polish, bool totalKnown = false);

const TGetMainTexts& GetMainTexts(bool polish);

// The download window's size line: the exact count and the size as SizeText
// writes it ("46297 (45.21 KB)"), only "512 B" below a kilobyte, and a dash,
// "—", while the size is not known (a negative size).
std::string SizeLineText(std::int64_t bytes);

// How the download window's work ended, for the desktop notification.
enum class TWorkEnd { Downloaded, DownloadFailed, Converted, ConversionFailed };

struct TWorkEndNotice {
    std::string Summary;  // what ended, and how
    std::string Body;     // the reason of a failure on a line of its own, then the file's full path
};

// A finished download's summary names the file's size on disk (size, when not negative).
TWorkEndNotice WorkEndNotice(TWorkEnd end, const std::string& file, const std::string& reason, bool polish,
                             std::int64_t size = -1);

// Why a plain transfer failed, from the client's status (net/ZQ_Internet.h) and
// the error of a failed write: a full disk names the file's folder, a
// certificate that isn't trusted the address; else the connection's error.
// "The file was changed outside Brimtale: " and the file.
std::string FileChangedText(const std::string& file, bool polish);
std::string TransferFailureText(std::int32_t status, int writeError, const std::string& file, const std::string& url,
                                bool polish);
