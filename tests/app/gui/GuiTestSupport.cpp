#include "GuiTestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

namespace {

// One QApplication for the whole test program, on the offscreen platform
// unless the caller chose another.
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen")
                                                                    : qgetenv("QT_QPA_PLATFORM"));
    static int argc = 1;
    static char name[] = "app_gui";
    static char* argv[] = {name, nullptr};
    application_ = std::make_unique<QApplication>(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tessarine"));
  }
  void TearDown() override { application_.reset(); }

 private:
  std::unique_ptr<QApplication> application_;
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  QElapsedTimer timer;
  timer.start();
  while (!condition()) {
    if (timer.elapsed() > timeout.count()) {
      return false;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(1);
  }
  return true;
}

ScriptedWindow::ScriptedWindow() : now_(QDateTime(QDate(2027, 2, 1), QTime(9, 5, 0))) {
  auto factory = [this](TRecoveryContext& context) -> std::unique_ptr<IRecoverySteps> {
    auto steps = std::make_unique<ScriptedSteps>(context);
    if (script_) {
      script_(*steps);
    }
    steps_ = steps.get();
    return steps;
  };
  window_ = std::make_unique<TFPrincipal>(factory);
  window_->SetMessageBox(
      [this](const QString& text, std::optional<MessageKind> kind, MessageButtons buttons) {
        EXPECT_EQ(QThread::currentThread(), window_->thread()) << "box shown off the UI thread";
        const ShownBox box{text, kind, buttons};
        std::function<void(const ShownBox&)> action;
        MessageAnswer answer = MessageAnswer::No;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          boxes_.push_back(box);
          action = std::exchange(onBox_, nullptr);
          if (buttons == MessageButtons::Ok) {
            answer = MessageAnswer::Ok;
          } else if (!answers_.empty()) {
            answer = answers_.front();
            answers_.pop_front();
          }
        }
        if (action) {
          action(box);
        }
        return answer;
      });
  window_->SetOpenFilePicker([this](const QString& filter, const QString& folder) {
    pickerFilters_.append(filter);
    pickerFolders_.append(folder);
    if (picks_.empty()) {
      return QString();
    }
    QString path = picks_.front();
    picks_.pop_front();
    return path;
  });
  window_->SetSaveFilePicker([this](const QString&, const QString&) { return savePath_; });
  window_->SetClock([this] { return now_; });
}

ScriptedWindow::~ScriptedWindow() {
  if (TThreadRecovery* engine = window_->Engine()) {
    // Serve the run until it ends so that the window can be destroyed.
    WaitUntil([engine] { return engine->Finished(); });
  }
}

void ScriptedWindow::AnswerBoxes(std::vector<MessageAnswer> answers) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_.assign(answers.begin(), answers.end());
}

std::vector<ShownBox> ScriptedWindow::Boxes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return boxes_;
}

void ScriptedWindow::ChooseDatabase(const QString& path) {
  PickFiles({path});
  window_->btnSelecionarBancoCorrompidoClick();
}

bool ScriptedWindow::WaitForRunEnd() {
  return WaitUntil([this] {
    TThreadRecovery* engine = window_->Engine();
    return engine != nullptr && engine->Finished();
  });
}
