#pragma once

#include <string>

// Kinds, buttons and answers of the questions the engine asks the user.
// The kind sets the box's title: "Atenção", "Erro", "Informação", "Confirme".
enum class MessageKind { Warning, Error, Information, Confirmation };
enum class MessageButtons { YesNo, Ok };
enum class MessageAnswer { Yes, No, Ok };

// The title a box of this kind carries: "Atenção", "Erro", "Informação",
// "Confirme".
const char* MessageKindTitle(MessageKind kind);

// Every question with Yes and No has a stable identifier, so that a front end
// without a person in front of it can be told the answer in advance. Boxes
// with only OK are notices; the closing message is one of its own.
enum class QuestionId {
  Notice,
  ClosingMessage,
  ContinueWithoutBackup,     // no older backup given before the run
  RetryActiveConnections,    // others are attached: look again?
  ContinueUnverifiedAccess,  // the exclusive-access check itself failed
  InformBackupFile,          // level 2 found orphans and no backup was given
  ChooseBackupFile,          // "Deseja escolher um arquivo?"
  TryAnotherBackup,          // the older backup did not restore
  RowsFromBackup,            // rows the damage took are in the older backup: insert them?
  DatabaseShutDown,          // the database is in maintenance: bring it online and go on?
  ForeignBackup,             // the older backup looks like another database's: use it?
};

// The identifier as the command line accepts it ("conexoes-ativas"); empty
// for notices.
const char* QuestionIdName(QuestionId id);
// The identifier named `name`, or Notice when there is none.
QuestionId QuestionIdNamed(const std::string& name);

struct Question {
  QuestionId id = QuestionId::Notice;
  std::string text;
  MessageKind kind = MessageKind::Information;
  MessageButtons buttons = MessageButtons::Ok;
  // The answer given by Enter, and by a front end told to take the defaults.
  MessageAnswer defaultAnswer = MessageAnswer::Ok;
};
