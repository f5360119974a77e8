#pragma once
// The connection settings read from config.ini beside the executable, once per process at
// first use: the parameter list for export runs, the shared connection and the
// process-wide client library.
#include "Corvane.Database.h"

#include <QString>
#include <memory>

namespace Corvane {

class TSliceConnection {
public:
  // Reads config.ini at the first call; a failed read is retried at the next call.
  static TSliceConnection& Instance();
  // Frees the settings object and with it the shared connection (program end, tests).
  static void Release();
  // The settings file: config.ini in the executable's folder unless overridden (the command
  // line's --config, tests); an empty name restores that default. Takes effect at the next read.
  static void SetConfigFile(const QString& aFileName);
  static QString ConfigFile();  // absolute path of the file the next read uses
  // The parameter list that a settings file in this format gives, read now and apart from the
  // process's settings (no client library chosen, nothing kept); fails as a read does.
  static QString ParametersOf(const QString& aConfigFile);

  ~TSliceConnection();
  TDbConnection& Connection();   // opens the shared connection when closed
  QString ExportParameters();    // Name=Value lines, CR LF ended

private:
  TSliceConnection();
  void CheckDatabase() const;
  std::unique_ptr<TDbConnection> FConnection;
  QString FDriver;  // the client-library name chosen for the process
};

}  // namespace Corvane
