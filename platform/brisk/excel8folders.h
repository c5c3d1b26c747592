#pragma once
// The spreadsheet driver's folders: the name of the note each folder keeps
// of the process that made it.
constexpr const char* Excel8OwnerNote = ".quorvel-owner";
