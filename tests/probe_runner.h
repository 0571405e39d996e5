#pragma once
// Runs the built korvena-probe on a script and reads its JSON lines.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

namespace probe_runner {

struct ProbeRun {
  int status = -1;
  QByteArray out, err;
};

// Runs the probe on `script`, written into `dir` as script.txt.
inline ProbeRun runProbe(const QTemporaryDir& dir, const QByteArray& script) {
  QFile file(dir.filePath("script.txt"));
  EXPECT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(script);
  file.close();
  QProcess process;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("TMPDIR", dir.path());  // so the store folder can be seen to go
  process.setProcessEnvironment(env);
  process.start(KORVENA_PROBE, {file.fileName()});
  EXPECT_TRUE(process.waitForFinished(30000));
  return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
          process.readAllStandardOutput(), process.readAllStandardError()};
}

inline QJsonObject outputLine(const QByteArray& out, int n) {
  QList<QByteArray> lines = out.split('\n');
  if (n >= lines.size()) return {};
  QJsonParseError error;
  QJsonDocument doc = QJsonDocument::fromJson(lines[n], &error);
  EXPECT_EQ(error.error, QJsonParseError::NoError) << lines[n].toStdString();
  return doc.object();
}

}  // namespace probe_runner
