#pragma once

// Kinds, buttons and answers of the questions the engine asks the user.
// The kind sets the box's title: "Atenção", "Erro", "Informação", "Confirme".
enum class MessageKind { Warning, Error, Information, Confirmation };
enum class MessageButtons { YesNo, Ok };
enum class MessageAnswer { Yes, No, Ok };
