// Loading the client library by name: its own program, because the library is loaded once
// per process and these cases need a process that has not loaded it yet.
#include "Corvane.Database.h"
#include "Corvane.Errors.h"
#include "TestDatabase.h"

#include <gtest/gtest.h>

using namespace Corvane;

namespace {

QString StartError() {
  try {
    TFbClient::Start();
  } catch (const TCorvaneError& LError) {
    return LError.Message();
  }
  return {};
}

TEST(TFbClient, FailuresNameTheLibraryOrEntryPointAndALaterStartRetries) {
  EXPECT_EQ(TFbClient::LibraryName(), "fbclient.dll");
  EXPECT_FALSE(TFbClient::Started());

  TFbClient::SetLibraryName("/nonexistent/libfbclient.so.2");
  const QString LMissing = StartError();
  EXPECT_TRUE(LMissing.contains("/nonexistent/libfbclient.so.2")) << LMissing.toStdString();
  EXPECT_FALSE(TFbClient::Started());

  // Opening a connection loads the library too, and fails the same way, leaving it closed.
  TDbConnection LConnection;
  LConnection.SetParams(Testing::TTestDatabase("fbclient").Params());
  EXPECT_THROW(LConnection.Open(), TCorvaneError);
  EXPECT_FALSE(LConnection.IsOpen());

  // A library that loads but is not the client: the first missing entry point is named.
  TFbClient::SetLibraryName("libm.so.6");
  const QString LNotClient = StartError();
  EXPECT_TRUE(LNotClient.contains("isc_attach_database")) << LNotClient.toStdString();
  EXPECT_TRUE(LNotClient.contains("libm.so.6")) << LNotClient.toStdString();
  EXPECT_FALSE(TFbClient::Started());

  TFbClient::SetLibraryName("FBClient.DLL");
  EXPECT_EQ(StartError(), "");
  EXPECT_TRUE(TFbClient::Started());
  // Started once, the choice holds for the process.
  TFbClient::SetLibraryName("/nonexistent/other.so");
  EXPECT_EQ(StartError(), "");

  Testing::TTestDatabase LDatabase("fbclient");
  auto LOpen = LDatabase.Connect();
  EXPECT_TRUE(LOpen->IsOpen());
}

}  // namespace
