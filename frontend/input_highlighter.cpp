#include "input_highlighter.h"

namespace tavwin {

InputHighlighter::InputHighlighter(QTextDocument* document) : QSyntaxHighlighter(document) {
  command_.setForeground(QColor(0x1f, 0x4e, 0x8c));
  command_.setFontWeight(QFont::Bold);
  comment_.setForeground(QColor(0x2e, 0x7d, 0x32));
  comment_.setFontItalic(true);
  bracket_.setForeground(QColor(0xa0, 0x52, 0x2d));
  bracket_.setFontWeight(QFont::Bold);
}

const QTextCharFormat& InputHighlighter::Format(InputToken kind) const {
  switch (kind) {
    case InputToken::kCommand:
      return command_;
    case InputToken::kComment:
      return comment_;
    case InputToken::kBracket:
      return bracket_;
  }
  return command_;
}

void InputHighlighter::highlightBlock(const QString& text) {
  for (const InputSpan& span : ClassifyInputLine(text)) {
    setFormat(span.start, span.length, Format(span.kind));
  }
}

}  // namespace tavwin
