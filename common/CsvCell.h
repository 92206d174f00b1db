#pragma once
#include <QString>

namespace Csv {
// A cell as CSV writes it. A text that a spreadsheet program would take as a formula (it
// starts with `=`, `+`, `-`, `@`, a tab or a carriage return and is not a plain number such
// as -0.25) gets a leading `'`, so that it is shown as the text it is and never run. The
// cell is then quoted, with quotes doubled, when it holds a comma, a quote, a line break or
// blanks at an end.
QString cell(const QString& text);
} // namespace Csv
