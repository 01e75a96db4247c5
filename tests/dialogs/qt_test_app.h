// One QApplication for a widget test binary, made before the first test and
// kept to the end. Tests run on the offscreen platform (also when the binary
// is started by hand).
#pragma once

#include <QApplication>
#include <gtest/gtest.h>

namespace plombix::testing_support {

class QtAppEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (QApplication::instance() == nullptr) app_ = new QApplication(argc_, argv_);
  }
  void TearDown() override {
    delete app_;
    app_ = nullptr;
  }

 private:
  int argc_ = 1;
  char name_[16] = "plombix_tests";
  char* argv_[2] = {name_, nullptr};
  QApplication* app_ = nullptr;
};

inline ::testing::Environment* const kQtApp =
    ::testing::AddGlobalTestEnvironment(new QtAppEnvironment);

}  // namespace plombix::testing_support
