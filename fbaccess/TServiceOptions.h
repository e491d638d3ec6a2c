#pragma once

#include "fbaccess/TOptionSet.h"

// Options of the service actions, in the order that gives each its bit.

enum class TValidateOption {
  LimboTransactions,
  CheckDB,
  IgnoreChecksum,
  KillShadows,
  MendDB,
  SweepDB,
  ValidateDB,
  ValidateFull
};
using TValidateOptions = TOptionSet<TValidateOption>;

enum class TBackupOption {
  IgnoreChecksums,
  IgnoreLimbo,
  MetadataOnly,
  NoGarbageCollection,
  OldMetadataDesc,
  NonTransportable,
  ConvertExtTables,
  NoDatabaseTriggers  // isc_spb_bkp_no_triggers, not the next bit
};
using TBackupOptions = TOptionSet<TBackupOption>;

enum class TRestoreOption {
  DeactivateIndexes,
  NoShadow,
  NoValidityCheck,
  OneRelationAtATime,
  Replace,
  CreateNewDB,
  UseAllSpace
};
using TRestoreOptions = TOptionSet<TRestoreOption>;

// How the service manager is reached.
enum TProtocol { TCP, SPX, NamedPipe, Local };
