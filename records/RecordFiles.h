#pragma once
// Every record is also a JSON file, written atomically (a reader never sees
// half of one) under a records folder:
//   <folder>/<station>/<date>/<serial>_<start>.json
// with the date and start time in UTC (yyyy-MM-dd, yyyyMMddTHHmmssZ). The
// station and serial come from devices and users: they reach the path only
// through SafeFileNamePart. Attachments lie beside the record's file. The
// files are readable by their owner only, and so are the folders made for
// them.

#include "TestRecord.h"

#include <QString>

// The records folder when none is given: "records" in the user's data
// folder of q714.
QString DefaultRecordsFolder();

// The record's file, and the folder its attachments go to.
QString RecordFilePath(const QString& folder, const RunRecord& record);
QString RecordFileFolder(const QString& folder, const RunRecord& record);

// Writes the record's JSON file; false with the reason (nothing half
// written is left behind).
bool WriteRecordFile(const QString& folder, const RunRecord& record, QString& path,
                     QString& problem);

// Copies `source` beside the record's file as `<serial>_<start>_<name>.<ext>`
// and describes it (size, SHA-256) in `attachment`.
bool AttachFile(const QString& folder, const RunRecord& record, const QString& name,
                const QString& source, Attachment& attachment, QString& problem);

// SHA-256 of a file's bytes in hex; empty when it cannot be read.
QString FileSha256(const QString& path);

// Makes the folder and those above it that are missing, each readable by
// its owner only; false with the reason.
bool MakePrivateFolder(const QString& folder, QString& problem);

// Every record file under the folder (`*.json`, hidden temporary files
// left out), in a stable order.
QStringList RecordFilesUnder(const QString& folder);

// Reads a record file back; false with the reason for a file that cannot be
// read or holds no record.
bool ReadRecordFile(const QString& path, RunRecord& record, QString& problem);
