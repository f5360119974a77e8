#pragma once
// Private to the data layer: the only header that includes ibase.h. It loads the client
// library at run time, resolves its entry points, turns status vectors into errors and
// owns the client's handles.
#include "Corvane.Database.h"
#include "Corvane.Errors.h"

#include <ibase.h>

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace Corvane::Fb {

// The entry points of the client library, resolved once per process.
struct TApi {
  decltype(&::isc_attach_database) FAttachDatabase = nullptr;
  decltype(&::isc_detach_database) FDetachDatabase = nullptr;
  decltype(&::isc_start_transaction) FStartTransaction = nullptr;
  decltype(&::isc_rollback_transaction) FRollbackTransaction = nullptr;
  decltype(&::isc_commit_transaction) FCommitTransaction = nullptr;
  decltype(&::isc_dsql_allocate_statement) FAllocateStatement = nullptr;
  decltype(&::isc_dsql_prepare) FPrepare = nullptr;
  decltype(&::isc_dsql_describe) FDescribe = nullptr;
  decltype(&::isc_dsql_describe_bind) FDescribeBind = nullptr;
  decltype(&::isc_dsql_sql_info) FSqlInfo = nullptr;
  decltype(&::isc_dsql_execute) FExecute = nullptr;
  decltype(&::isc_dsql_execute2) FExecute2 = nullptr;
  decltype(&::isc_dsql_fetch) FFetch = nullptr;
  decltype(&::isc_dsql_free_statement) FFreeStatement = nullptr;
  decltype(&::isc_open_blob2) FOpenBlob2 = nullptr;
  decltype(&::isc_create_blob2) FCreateBlob2 = nullptr;
  decltype(&::isc_get_segment) FGetSegment = nullptr;
  decltype(&::isc_put_segment) FPutSegment = nullptr;
  decltype(&::isc_close_blob) FCloseBlob = nullptr;
  decltype(&::isc_cancel_blob) FCancelBlob = nullptr;
  decltype(&::isc_decode_sql_date) FDecodeSqlDate = nullptr;
  decltype(&::isc_decode_sql_time) FDecodeSqlTime = nullptr;
  decltype(&::isc_decode_timestamp) FDecodeTimestamp = nullptr;
  decltype(&::isc_encode_sql_date) FEncodeSqlDate = nullptr;
  decltype(&::isc_encode_sql_time) FEncodeSqlTime = nullptr;
  decltype(&::isc_encode_timestamp) FEncodeTimestamp = nullptr;
  decltype(&::fb_interpret) FInterpret = nullptr;
  decltype(&::fb_cancel_operation) FCancelOperation = nullptr;
  decltype(&::isc_get_client_major_version) FClientMajorVersion = nullptr;
  decltype(&::isc_get_client_minor_version) FClientMinorVersion = nullptr;
};

// The file name that dlopen receives for a configured client-library name.
QString ResolveLibraryName(const QString& aName);
// Loads the library on the first call (again after a failed one) and returns its entry points.
const TApi& Api();
bool Loaded() noexcept;

// A status vector of one call.
struct TStatus {
  ISC_STATUS_ARRAY FVector{};
  ISC_STATUS* Get() { return FVector; }
  bool Failed() const { return FVector[0] == 1 && FVector[1] != 0; }
};

// The client library's text of a status vector, its messages joined by single blanks.
QString StatusText(const ISC_STATUS* aStatus);
// Raises the error of a failed call: a TCancelledError when the call was cancelled on request.
[[noreturn]] void RaiseStatus(const ISC_STATUS* aStatus);
inline void Check(TStatus& aStatus) {
  if (aStatus.Failed()) RaiseStatus(aStatus.FVector);
}

// Move-only owner of one client handle; the destructor releases it and swallows errors.
template <typename TTraits>
class THandle {
public:
  THandle() = default;
  ~THandle() { TTraits::Release(FHandle); }
  THandle(THandle&& aOther) noexcept : FHandle(std::exchange(aOther.FHandle, FB_API_HANDLE{})) {}
  THandle& operator=(THandle&& aOther) noexcept {
    if (this != &aOther) {
      TTraits::Release(FHandle);
      FHandle = std::exchange(aOther.FHandle, FB_API_HANDLE{});
    }
    return *this;
  }
  THandle(const THandle&) = delete;
  THandle& operator=(const THandle&) = delete;

  FB_API_HANDLE* Ptr() { return &FHandle; }
  FB_API_HANDLE Get() const { return FHandle; }
  bool Valid() const { return FHandle != FB_API_HANDLE{}; }
  // Releases now; never throws.
  void Reset() noexcept { TTraits::Release(FHandle); }
  // Forgets the handle without releasing it (the server already has).
  void Forget() noexcept { FHandle = FB_API_HANDLE{}; }

private:
  FB_API_HANDLE FHandle{};
};

struct TAttachmentTraits {
  static void Release(FB_API_HANDLE& aHandle) noexcept;
};
struct TTransactionTraits {
  static void Release(FB_API_HANDLE& aHandle) noexcept;  // rolls back
};
struct TStatementTraits {
  static void Release(FB_API_HANDLE& aHandle) noexcept;  // drops
};
struct TBlobTraits {
  static void Release(FB_API_HANDLE& aHandle) noexcept;  // cancels
};

using TAttachment = THandle<TAttachmentTraits>;
using TTransaction = THandle<TTransactionTraits>;
using TStatement = THandle<TStatementTraits>;
using TBlob = THandle<TBlobTraits>;

// Which client calls on one attachment a stop may cancel. fb_cancel_operation writes to the
// attachment's socket from the requesting thread, beside the call in progress: were that call
// still sending a request too large for one write, the two packets would interleave and the
// server would wait for ever for the rest of it. So the cancel goes out only while every call in
// progress is one whose request is small (fetches, executes of small messages) and no other call
// is about to send; otherwise the stop waits for the run's next check, which comes soon.
class TCallGate {
public:
  // Marks one client call from before it starts until it returns.
  class TCall {
  public:
    TCall(TCallGate& aGate, bool aCancellable);
    ~TCall();
    TCall(const TCall&) = delete;
    TCall& operator=(const TCall&) = delete;

  private:
    TCallGate& FGate;
    bool FCancellable;
  };
  // The requests that a cancellable call may send at most.
  static constexpr int CSmallRequest = 2048;
  // Cancels the calls in progress when every one of them may be cancelled; never throws.
  void Cancel(FB_API_HANDLE* aAttachment) noexcept;

private:
  std::mutex FMutex;
  int FCancellable = 0;
  int FOther = 0;
};

// An XSQLDA with room for a number of items, and optionally one buffer for their data and
// null indicators, allocated once and reused for every row.
class TSqlda {
public:
  TSqlda() { Resize(1); }
  TSqlda(TSqlda&&) noexcept = default;
  TSqlda& operator=(TSqlda&&) noexcept = default;
  TSqlda(const TSqlda&) = delete;
  TSqlda& operator=(const TSqlda&) = delete;

  void Resize(int aCount);
  XSQLDA* Get() { return reinterpret_cast<XSQLDA*>(FMemory.get()); }
  const XSQLDA* Get() const { return reinterpret_cast<const XSQLDA*>(FMemory.get()); }
  int Capacity() const { return Get()->sqln; }
  int Count() const { return Get()->sqld; }
  XSQLVAR& Var(int aIndex) { return Get()->sqlvar[aIndex]; }
  // Points every described item at its own slot of one data buffer, sized from its type
  // and length, and marks it nullable so that the indicator is always written.
  void AllocateDataBuffers();

private:
  std::unique_ptr<std::max_align_t[]> FMemory;
  std::unique_ptr<std::max_align_t[]> FData;
  std::vector<short> FIndicators;
};

// Bytes of a parameter block, with the length checks the client's short lengths need.
class TParameterBlock {
public:
  explicit TParameterBlock(char aVersion) { FBytes.append(aVersion); }
  void AddTag(char aTag) { FBytes.append(aTag); }
  void AddString(char aTag, const QByteArray& aValue, const QString& aWhat);
  void AddInteger(char aTag, std::int32_t aValue);
  // An item with a length byte of zero (a flag).
  void AddFlag(char aTag);
  const QByteArray& Bytes() const;

private:
  QByteArray FBytes;
};

// The blocks that Open and StartTransaction send.
QByteArray AttachmentParameterBlock(const TDbConnection& aConnection);
QByteArray TransactionParameterBlock(bool aReadOnly, TIsolation aIsolation);

}  // namespace Corvane::Fb
