#ifndef TAV_FRONTEND_SETTINGS_FILE_H_
#define TAV_FRONTEND_SETTINGS_FILE_H_

#include <QString>
#include <QStringList>
#include <optional>

namespace tavwin {

// A private profile file: "[Section]" lines followed by "Key=Value" lines. Section and key
// names match without regard to case. Writing a value keeps every other line of the file as
// it was, so comments and unknown keys survive.
//
// A file that cannot be parsed is not read at all: it gives every default, and Damaged() tells
// the owner to replace it by a clean file (keeping a backup, BackUpDamagedFile) rather than
// carry it forward. It cannot be parsed when it is larger than kMaxProfileBytes, is not UTF-8
// text, holds control characters other than tabs and line ends or the replacement character
// U+FFFD, or has a line that is neither blank, a comment (";" or "#"), a "[Section]" header nor
// a "Key=Value" line after a header.
class ProfileFile {
 public:
  static constexpr qint64 kMaxProfileBytes = 64 * 1024;

  // Reads the file; a missing, unreadable or damaged file leaves the profile empty (false).
  bool Load(const QString& path);
  // The file last loaded could not be parsed.
  bool Damaged() const { return damaged_; }
  // Writes the profile, creating the file's directory when needed.
  bool Save(const QString& path) const;

  void SetText(const QString& text);
  QString Text() const;

  QString ReadString(const QString& section, const QString& key, const QString& fallback) const;
  // Decimal text, or hexadecimal after "0x" or "0X"; anything unreadable gives fallback.
  int ReadInteger(const QString& section, const QString& key, int fallback) const;
  void WriteString(const QString& section, const QString& key, const QString& value);
  void WriteInteger(const QString& section, const QString& key, int value);
  // Takes the key's line out of the section, when there is one.
  void RemoveKey(const QString& section, const QString& key);

 private:
  // Index of the section's header line, or -1.
  int FindSection(const QString& section) const;
  // Index of the key's line inside the section starting at header, or -1.
  int FindKey(int header, const QString& key) const;

  QStringList lines_;
  bool damaged_ = false;
};

// True when the lines make a profile (see ProfileFile).
bool ProfileLinesParse(const QStringList& lines);

// Where a damaged settings file is kept: its name followed by ".bak", beside it.
QString BackupPath(const QString& path);

// Copies the file at path to BackupPath(path), replacing an earlier backup. false (with
// error) when the copy could not be made.
bool BackUpDamagedFile(const QString& path, QString* error);

// An integer as the settings file holds it: optional blanks around, an optional sign and
// decimal digits, or "0x"/"0X" and one to eight hexadecimal digits (taken as a 32-bit
// pattern, so 0xFFFFFFFF is -1). Values outside the 32-bit range do not convert.
std::optional<int> ParseProfileInteger(const QString& text);

// What the front end keeps in "TAV.Ini".
struct TavSettings {
  bool maximized = false;
  int height = 450;
  int width = 600;
  QString font_name = "Courier New";
  int font_size = 9;
  bool show_log = false;
  bool confirm = true;
  // Input files opened or saved of late, the latest first (section "Recent Files", keys
  // "File1" to "File8").
  QStringList recent_files;
};

inline constexpr int kMaxRecentFiles = 8;

// The list with path put first (once), cut to kMaxRecentFiles.
QStringList WithRecentFile(QStringList list, const QString& path);

TavSettings ReadTavSettings(const ProfileFile& file);
void WriteTavSettings(ProfileFile& file, const TavSettings& settings);

// "TAV.Ini" in the place where the platform keeps such files (on Linux the user's
// configuration directory).
QString DefaultSettingsPath();

}  // namespace tavwin

#endif  // TAV_FRONTEND_SETTINGS_FILE_H_
