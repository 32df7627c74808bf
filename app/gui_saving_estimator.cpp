#include "app/gui_saving_estimator.h"

#include <QMetaObject>

#include "survey/survey_session.h"

namespace orbelan {

GuiSavingEstimator::GuiSavingEstimator(SurveySession& session, QObject* parent)
    : QObject(parent), options(session.estimateOptions), threads(session.estimateThreads), session_(session) {
  batch_.setSingleShot(true);
  batch_.setInterval(100);
  connect(&batch_, &QTimer::timeout, this, &GuiSavingEstimator::Progress);
  // Runs on a worker thread: one queued call carries every result that comes in before the
  // window's thread takes them.
  session_.SetResultsWaiting(
      [this] { QMetaObject::invokeMethod(this, [this] { TakeResults(); }, Qt::QueuedConnection); });
}

GuiSavingEstimator::~GuiSavingEstimator() {
  session_.StopEstimate();
  session_.SetResultsWaiting(nullptr);
}

bool GuiSavingEstimator::Estimate(const std::vector<const FolderRec*>& listed) {
  if (!session_.Estimate(listed)) return false;
  emit Progress();
  return true;
}

void GuiSavingEstimator::HoldResultsForTests(bool hold) {
  held_ = hold;
  if (!hold) TakeResults();
}

void GuiSavingEstimator::TakeResults() {
  if (held_) return;  // taken on release
  switch (session_.TakeResults()) {
    case SurveySession::Taken::NotRunning:  // a call posted before a stop
      return;
    case SurveySession::Taken::More:
      if (!batch_.isActive()) batch_.start();
      return;
    case SurveySession::Taken::Ended:
      batch_.stop();
      emit Progress();
      emit Finished();
      return;
  }
}

void GuiSavingEstimator::Stop() {
  session_.StopEstimate();
  batch_.stop();
}

bool GuiSavingEstimator::Running() const { return session_.Estimating(); }
std::int64_t GuiSavingEstimator::Listed() const { return session_.Listed(); }
std::int64_t GuiSavingEstimator::Estimated() const { return session_.Estimated(); }
const std::vector<const FolderRec*>& GuiSavingEstimator::Order() const { return session_.Order(); }
int GuiSavingEstimator::Starts() const { return session_.Starts(); }

}  // namespace orbelan
