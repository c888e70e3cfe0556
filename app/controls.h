// The controls of the main window, by their dialog identifiers: the names that the dialog
// logic and the window share.
#pragma once

namespace rowpress {

// The controls of the main dialog, by their dialog identifiers.
enum class ControlId : int {
  ListDatabases = 1000,
  DataSourceList = 1001,
  Fetch = 1002,
  SqlBox = 1003,
  StatusList = 1004,
  TableList = 1005,
  UserName = 1008,
  Password = 1009,
  OutputCsv = 1010,
  SaveSettings = 1011,
  SupportPage = 1012,
  LoadPrevious = 1013,
  OutputXml = 1014,
  OutputHtml = 1015,
  LaunchApplication = 1016,
  LaunchOnFinish = 1017,
  OutFileName = 1018,
  Browse = 1019,
  ForceFullLength = 1020,
  OutputTsv = 1021,
  Excel2007 = 1022,
  OutputXlsx = 1023,
  QuoteFields = 1024,
  ByteOrderMark = 1025,
  // The sheets of a report: the tabs above the SQL box, the "+" beside them, and the commands
  // of a tab (a double click renames it, its context menu removes or moves it).
  SheetTabs = 1026,
  AddSheet = 1027,
  RenameSheet = 1028,
  RemoveSheet = 1029,
  MoveSheetLeft = 1030,
  MoveSheetRight = 1031,
  // The text outputs' separator with the decimal comma as one choice, their encoding, and the
  // session's time zone.
  SeparatorChoice = 1032,
  Encoding = 1033,
  TimeZone = 1034,
};

}  // namespace rowpress
