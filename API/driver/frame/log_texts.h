// log_texts.h - texts of the driver log that the tests look for, named once
// so that the code that writes a line and the test that expects it use the
// same text.
//
// How each is written:
//  - failure reasons of exported and internal functions with logFail:
//    "!}FUNCTION: TEXT";
//  - parameter model errors with qdLog("!%s\n", TEXT): "!TEXT" (the text
//    begins with the function's name);
//  - protocol errors with protoLogError: "!(CTX) TEXT" (no context prefix
//    for context 0); the message checks add a period for the Halvex family.
#pragma once

// Device contexts (QdOpenDevContext, QdSelectDevContext), the storage blob
// (QdGetDevConfig, QdSetDevConfig), the device services and the spine.
constexpr char kLogTooManyContexts[] = "Too many contexts";
constexpr char kLogDeviceNotFound[] = "Device not found";
constexpr char kLogContextSelectionError[] = "Context selection error";
constexpr char kLogInvalidContext[] = "Invalid context";
constexpr char kLogInitializationError[] = "Initialization error";
constexpr char kLogTooSmallBuffer[] = "Too small buffer";
constexpr char kLogIncompatibleStorage[] = "Incompatible storage";
constexpr char kLogOtherModelStorage[] = "Storage for inconsistent device model";
constexpr char kLogCannotOpenContext[] = "Cannot open device context";
constexpr char kLogCannotCopyData[] = "Cannot copy data";
constexpr char kLogCannotInitDependencies[] = "Cannot initialize parameter dependency info";
constexpr char kLogCannotRunServices[] = "Cannot run device service application";
constexpr char kLogContextNotSelected[] = "Context not selected";
constexpr char kLogSpineAllocation[] = "Allocation error (1)";

// The dependency spine.
constexpr char kLogAddDepFailed[] = "addDep: Dependent parameter not found or too many dependencies";
constexpr char kLogUpdateAllNoContext[] = "updateAllDeps: Context not selected";
constexpr char kLogUpdateAllChannelError[] = "updateAllDeps: Channel parameter dependency update error";
constexpr char kLogUpdateParNotIndex[] = "updateParDeps: Parameter cannot be an index";
constexpr char kLogUpdateParNoDependent[] = "updateParDeps: Dependent parameter not found";
constexpr char kLogUpdateParFailed[] = "updateParDeps: Cannot update dependent parameter";
constexpr char kLogUpdateDepNoDependent[] = "updateDep: Dependent parameter not found";
constexpr char kLogUpdateDepNoSuperior[] = "updateDep: Superior parameter not found";

// Domains and option indexes.
constexpr char kLogValIndexBadDomain[] = "getValIndex: Invalid domain definition";
constexpr char kLogValIndexNoOption[] = "getValIndex: Option not found";
constexpr char kLogValIndexBadType[] = "getValIndex: Type not allowed as index";
constexpr char kLogOptNumBadDomain[] = "getOptNum: Invalid domain definition";
constexpr char kLogValNumBadType[] = "getValNum: Type not allowed as index";
constexpr char kLogValNumOverflow[] = "getValNum: Index range overflow";
constexpr char kLogValNumUnknownType[] = "getValNum: Unknown type";

// The parameter API.
constexpr char kLogEnumParamsNoContext[] = "QdEnumParams: No context or buffer too short";
constexpr char kLogEnumParamsBadChannel[] = "QdEnumParams: Invalid channel or buffer too short";
constexpr char kLogParamInfoInvalid[] = "QdParamInfo: No context or invalid parameter";
constexpr char kLogGetParamInvalid[] = "QdGetParam: No context or invalid parameter";
constexpr char kLogGetParamUnknownOption[] = "QdGetParam: Unknown parameter option";
constexpr char kLogSetParamNoContext[] = "QdSetParam: No context";
constexpr char kLogSetParamInvalid[] = "QdSetParam: Invalid parameter";
constexpr char kLogSetParamConstant[] = "QdSetParam: Constant parameter";
constexpr char kLogSetParamOutside[] = "QdSetParam: Value outside parameter's domain";
constexpr char kLogGetOptNumInvalid[] = "QdGetOptNum: No context or invalid parameter";
constexpr char kLogLockParamNoContext[] = "QdLockParam: No context";
constexpr char kLogLockParamInvalid[] = "QdLockParam: Invalid parameter";

// The protocol: receiver and message checks, replies, the link.
constexpr char kLogMessageTooLong[] = "Message is too long";
constexpr char kLogMessageTooShort[] = "Message is too short";
constexpr char kLogInvalidDirection[] = "Invalid message direction";
constexpr char kLogUnknownMessage[] = "Unknown message";
constexpr char kLogUnimplementedMessage[] = "Unimplemented message";
constexpr char kLogReceivingError[] = "Receiving error";
constexpr char kLogIncorrectFormat[] = "Incorrect format of received message";
constexpr char kLogLinkError[] = "Link error";
// A phase gap: this line, then the trace of the loss.
constexpr char kLogLinkErrorLoss[] = "Link error:";
