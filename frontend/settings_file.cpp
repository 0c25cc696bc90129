#include "settings_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QTextStream>
#include <limits>

namespace tavwin {
namespace {

bool IsSectionLine(const QString& line) {
  const QString trimmed = line.trimmed();
  return trimmed.startsWith('[') && trimmed.contains(']');
}

QString SectionName(const QString& line) {
  const QString trimmed = line.trimmed();
  return trimmed.mid(1, trimmed.indexOf(']') - 1).trimmed();
}

QString KeyOf(const QString& line) {
  const int equals = line.indexOf('=');
  return equals < 0 ? QString() : line.left(equals).trimmed();
}

QString ValueOf(const QString& line) {
  QString value = line.mid(line.indexOf('=') + 1).trimmed();
  // A value in matching quotes is read without them.
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.mid(1, value.size() - 2);
  }
  return value;
}

}  // namespace

bool ProfileFile::Load(const QString& path) {
  lines_.clear();
  damaged_ = false;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  // A file far larger than any settings file is not read to its end.
  const QByteArray bytes = file.read(kMaxProfileBytes + 1);
  if (file.error() != QFileDevice::NoError) return false;
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  const QString text = utf8(bytes);
  bool clean = bytes.size() <= kMaxProfileBytes && !utf8.hasError();
  for (qsizetype i = 0; clean && i < text.size(); ++i) {
    const char16_t c = text[i].unicode();
    clean = (c >= 0x20 || c == '\t' || c == '\n' || c == '\r') && c != 0x7f &&
            c != QChar::ReplacementCharacter;
  }
  if (clean) {
    SetText(text);
    clean = ProfileLinesParse(lines_);
  }
  if (!clean) {
    lines_.clear();
    damaged_ = true;
    return false;
  }
  return true;
}

bool ProfileLinesParse(const QStringList& lines) {
  bool in_section = false;
  for (const QString& line : lines) {
    const QString trimmed = line.trimmed();
    if (trimmed.isEmpty() || trimmed.startsWith(';') || trimmed.startsWith('#')) continue;
    if (trimmed.startsWith('[')) {
      if (!trimmed.endsWith(']') || SectionName(trimmed).isEmpty()) return false;
      in_section = true;
      continue;
    }
    if (!in_section || KeyOf(line).isEmpty()) return false;
  }
  return true;
}

QString BackupPath(const QString& path) { return path + ".bak"; }

bool BackUpDamagedFile(const QString& path, QString* error) {
  QFile source(path);
  if (!source.open(QIODevice::ReadOnly)) {
    if (error != nullptr) *error = source.errorString();
    return false;
  }
  QSaveFile backup(BackupPath(path));
  if (!backup.open(QIODevice::WriteOnly)) {
    if (error != nullptr) *error = backup.errorString();
    return false;
  }
  while (!source.atEnd()) {
    const QByteArray block = source.read(1 << 16);
    if (source.error() != QFileDevice::NoError) {
      if (error != nullptr) *error = source.errorString();
      backup.cancelWriting();
      return false;
    }
    if (backup.write(block) != block.size()) {
      if (error != nullptr) *error = backup.errorString();
      backup.cancelWriting();
      return false;
    }
  }
  if (!backup.commit()) {
    if (error != nullptr) *error = backup.errorString();
    return false;
  }
  return true;
}

bool ProfileFile::Save(const QString& path) const {
  const QFileInfo info(path);
  QDir().mkpath(info.absolutePath());
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) return false;
  const QByteArray bytes = Text().toUtf8();
  if (file.write(bytes) != bytes.size()) {
    file.cancelWriting();
    return false;
  }
  return file.commit();
}

void ProfileFile::SetText(const QString& text) {
  lines_ = text.split('\n');
  for (QString& line : lines_) {
    if (line.endsWith('\r')) line.chop(1);
  }
  while (!lines_.isEmpty() && lines_.back().isEmpty()) lines_.removeLast();
}

QString ProfileFile::Text() const {
  QString text;
  for (const QString& line : lines_) text += line + '\n';
  return text;
}

int ProfileFile::FindSection(const QString& section) const {
  for (int i = 0; i < lines_.size(); ++i) {
    if (IsSectionLine(lines_[i]) &&
        SectionName(lines_[i]).compare(section, Qt::CaseInsensitive) == 0) {
      return i;
    }
  }
  return -1;
}

int ProfileFile::FindKey(int header, const QString& key) const {
  for (int i = header + 1; i < lines_.size() && !IsSectionLine(lines_[i]); ++i) {
    const QString trimmed = lines_[i].trimmed();
    if (trimmed.startsWith(';') || trimmed.startsWith('#')) continue;
    if (KeyOf(lines_[i]).compare(key, Qt::CaseInsensitive) == 0 && !KeyOf(lines_[i]).isEmpty()) {
      return i;
    }
  }
  return -1;
}

QString ProfileFile::ReadString(const QString& section, const QString& key,
                                const QString& fallback) const {
  const int header = FindSection(section);
  if (header < 0) return fallback;
  const int line = FindKey(header, key);
  return line < 0 ? fallback : ValueOf(lines_[line]);
}

int ProfileFile::ReadInteger(const QString& section, const QString& key, int fallback) const {
  const std::optional<int> value = ParseProfileInteger(ReadString(section, key, QString()));
  return value ? *value : fallback;
}

void ProfileFile::WriteString(const QString& section, const QString& key, const QString& value) {
  const QString entry = key + '=' + value;
  int header = FindSection(section);
  if (header < 0) {
    if (!lines_.isEmpty()) lines_.append(QString());
    lines_.append('[' + section + ']');
    lines_.append(entry);
    return;
  }
  const int line = FindKey(header, key);
  if (line >= 0) {
    lines_[line] = entry;
    return;
  }
  // After the section's last non-blank line.
  int last = header;
  for (int i = header + 1; i < lines_.size() && !IsSectionLine(lines_[i]); ++i) {
    if (!lines_[i].trimmed().isEmpty()) last = i;
  }
  lines_.insert(last + 1, entry);
}

void ProfileFile::RemoveKey(const QString& section, const QString& key) {
  const int header = FindSection(section);
  if (header < 0) return;
  const int line = FindKey(header, key);
  if (line >= 0) lines_.removeAt(line);
}

void ProfileFile::WriteInteger(const QString& section, const QString& key, int value) {
  WriteString(section, key, QString::number(value));
}

std::optional<int> ParseProfileInteger(const QString& text) {
  const QString trimmed = text.trimmed();
  if (trimmed.isEmpty()) return std::nullopt;
  if (trimmed.startsWith("0x") || trimmed.startsWith("0X")) {
    const QString digits = trimmed.mid(2);
    if (digits.isEmpty() || digits.size() > 8) return std::nullopt;
    bool ok = false;
    const uint value = digits.toUInt(&ok, 16);
    if (!ok) return std::nullopt;
    return static_cast<int>(value);
  }
  int start = 0;
  if (trimmed[0] == '+' || trimmed[0] == '-') start = 1;
  if (start == trimmed.size()) return std::nullopt;
  for (int i = start; i < trimmed.size(); ++i) {
    if (trimmed[i] < '0' || trimmed[i] > '9') return std::nullopt;
  }
  bool ok = false;
  const qlonglong value = trimmed.toLongLong(&ok, 10);
  if (!ok || value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) {
    return std::nullopt;
  }
  return static_cast<int>(value);
}

TavSettings ReadTavSettings(const ProfileFile& file) {
  TavSettings settings;
  const TavSettings defaults;
  settings.maximized = file.ReadInteger("Window", "Maximized", 0) == 1;
  settings.height = file.ReadInteger("Window", "Height", defaults.height);
  settings.width = file.ReadInteger("Window", "Width", defaults.width);
  settings.font_name = file.ReadString("Preferences", "FontName", defaults.font_name);
  if (settings.font_name.isEmpty()) settings.font_name = defaults.font_name;
  settings.font_size = file.ReadInteger("Preferences", "FontSize", defaults.font_size);
  // A font of no size cannot be shown.
  if (settings.font_size <= 0) settings.font_size = defaults.font_size;
  settings.show_log = file.ReadInteger("Preferences", "ShowLog", 0) != 0;
  settings.confirm = file.ReadInteger("Preferences", "Confirm", 1) != 0;
  for (int i = 1; i <= kMaxRecentFiles; ++i) {
    const QString name = file.ReadString("Recent Files", QString("File%1").arg(i), QString());
    if (!name.isEmpty() && !settings.recent_files.contains(name)) settings.recent_files << name;
  }
  return settings;
}

QStringList WithRecentFile(QStringList list, const QString& path) {
  list.removeAll(path);
  list.prepend(path);
  while (list.size() > kMaxRecentFiles) list.removeLast();
  return list;
}

void WriteTavSettings(ProfileFile& file, const TavSettings& settings) {
  file.WriteInteger("Window", "Height", settings.height);
  file.WriteInteger("Window", "Width", settings.width);
  file.WriteInteger("Window", "Maximized", settings.maximized ? 1 : 0);
  file.WriteString("Preferences", "FontName", settings.font_name);
  file.WriteInteger("Preferences", "FontSize", settings.font_size);
  file.WriteInteger("Preferences", "ShowLog", settings.show_log ? 1 : 0);
  file.WriteInteger("Preferences", "Confirm", settings.confirm ? 1 : 0);
  for (int i = 1; i <= kMaxRecentFiles; ++i) {
    const QString key = QString("File%1").arg(i);
    if (i <= settings.recent_files.size()) {
      file.WriteString("Recent Files", key, settings.recent_files[i - 1]);
    } else {
      file.RemoveKey("Recent Files", key);
    }
  }
}

QString DefaultSettingsPath() {
  QString directory = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
  if (directory.isEmpty()) directory = QDir::homePath();
  return QDir(directory).filePath("TAV.Ini");
}

}  // namespace tavwin
