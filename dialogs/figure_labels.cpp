#include "dialogs/figure_labels.h"

#include <QLabel>

#include "scan/folder_figures.h"
#include "survey/figure_text.h"
#include "scan/folder_list.h"

namespace orbelan {
namespace {

QString SizeLine(std::int64_t bytes) { return QStringLiteral("size = ") + QString::fromStdString(SizeText(bytes)); }

}  // namespace

void FigureLabels::Show(const FolderCounts& figures, const std::string& age) const {
  labNFiles->setText(QString::number(figures.NFiles) + QStringLiteral(" files found --"));
  labSzFiles->setText(SizeLine(figures.SzFiles));
  labNZips->setText(QString::number(figures.NZips) + QStringLiteral(" ZIP files found --"));
  labSzZips->setText(SizeLine(figures.SzZips));
  labNIgno->setText(QString::number(figures.NIgno) + QStringLiteral(" files ignored --"));
  labSzIgno->setText(SizeLine(figures.SzIgno));
  labPercent->setText(QString::number(ZipPercent(figures)) + QStringLiteral("% of files are zipped"));
  labRecent->setText(QStringLiteral("Most recent file = ") + QString::fromStdString(age));
  labPriority->setText(QStringLiteral("Zip Priority = ") + QString::number(ZipPriority(figures)));
}

}  // namespace orbelan
