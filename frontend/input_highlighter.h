#ifndef TAV_FRONTEND_INPUT_HIGHLIGHTER_H_
#define TAV_FRONTEND_INPUT_HIGHLIGHTER_H_

#include <QSyntaxHighlighter>
#include <QTextCharFormat>

#include "input_syntax.h"

namespace tavwin {

// Shows the input editor's commands in bold blue, comments in italic green and brackets in
// bold brown (ClassifyInputLine says which is which).
class InputHighlighter : public QSyntaxHighlighter {
  Q_OBJECT

 public:
  explicit InputHighlighter(QTextDocument* document);

  const QTextCharFormat& Format(InputToken kind) const;

 protected:
  void highlightBlock(const QString& text) override;

 private:
  QTextCharFormat command_;
  QTextCharFormat comment_;
  QTextCharFormat bracket_;
};

}  // namespace tavwin

#endif  // TAV_FRONTEND_INPUT_HIGHLIGHTER_H_
