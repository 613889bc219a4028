// TendrilLauncher.cs: the C# bindings of tendril_launcher.dll, the launcher library's C interface
// (include/tendril_launcher/tendril_launcher.h).
//
// Add this file to a project that runs on Windows and ship tendril_launcher.dll beside the
// program: a 32-bit DLL for a 32-bit (or "prefer 32-bit") process, a 64-bit one for a 64-bit
// process. Every function is __cdecl; text is UTF-16 (CharSet.Unicode). The records have the
// header's layout byte for byte, which the project's tests check field by field under Mono.
//
// Text fields are ByValTStr strings: the marshaler would cut a text that is too long for its
// field without a word, and a cut path can name another folder, which Tendril would then change as
// administrator. Fill them with TendrilText.Set, or check a record with FirstTooLong before it is
// sent, as tendril_set_text does in C.
using System;
using System.Runtime.InteropServices;

namespace Tendril.Launcher
{
    // The request record that follows every command code but TENDRIL_INSTALL_RUNTIME_UPDATE
    // (5148 bytes). entryCount is set by tendril_run_start from its own entryCount.
    [StructLayout(LayoutKind.Sequential, CharSet = CharSet.Unicode)]
    public struct TendrilRequest
    {
        public const int InstallFolderLength = 261;
        public const int ReservedTextLength = 257;
        public const int ShortNameLength = 33;
        public const int LongNameLength = 65;
        public const int IconNameLength = 65;
        public const int RegPathLength = 261;
        public const int HelpLinkLength = 261;
        public const int UrlInfoAboutLength = 261;
        public const int UrlUpdateInfoLength = 261;
        public const int ShortcutFolderLength = 261;
        public const int ExeNameLength = 65;
        public const int ArgumentLength = 517;

        public int reserved;
        [MarshalAs(UnmanagedType.ByValTStr, SizeConst = InstallFolderLength)]
        public string installFolder;
        [MarshalAs(UnmanagedType.ByValTStr, SizeConst = ReservedTextLength)]
        public string reservedText;
        [MarshalAs(UnmanagedType.ByValTStr, SizeConst = ShortNameLength)]
        public string shortName;
        [MarshalAs(UnmanagedType.ByValTStr, SizeConst = LongNameLength)]
        public string longName;
        [MarshalAs(UnmanagedType.ByValTStr, SizeConst = IconNameLength)]
        public string iconName;
        [MarshalAs(UnmanagedType.ByValTStr, SizeConst = RegPathLength)]
        public string regPath;
        [MarshalAs(UnmanagedType.ByValTStr, SizeConst = HelpLinkLength)]
        public string helpLink;
        [MarshalAs(UnmanagedType.ByValTStr, SizeConst = UrlInfoAboutLength)]
        public string urlInfoAbout;
        [MarshalAs(UnmanagedType.ByValTStr, SizeConst = UrlUpdateInfoLength)]
        public string urlUpdateInfo;
        [MarshalAs(UnmanagedType.ByValTStr, SizeConst = ShortcutFolderLength)]
        public string shortcutFolder;
        [MarshalAs(UnmanagedType.ByValTStr, SizeConst = ExeNameLength)]
        public string exeName;
        [MarshalAs(UnmanagedType.ByValTStr, SizeConst = ArgumentLength)]
        public string argument;
        public byte programsShortcuts;
        public byte iconShortcutFlag;
        public byte startMenuShortcuts;
        public byte padding;
        public int entryCount;

        // The name of the first text field whose text does not fit with its terminating NUL, or
        // null when every one fits.
        public string FirstTooLong()
        {
            if (!TendrilText.Fits(installFolder, InstallFolderLength)) return "installFolder";
            if (!TendrilText.Fits(reservedText, ReservedTextLength)) return "reservedText";
            if (!TendrilText.Fits(shortName, ShortNameLength)) return "shortName";
            if (!TendrilText.Fits(longName, LongNameLength)) return "longName";
            if (!TendrilText.Fits(iconName, IconNameLength)) return "iconName";
            if (!TendrilText.Fits(regPath, RegPathLength)) return "regPath";
            if (!TendrilText.Fits(helpLink, HelpLinkLength)) return "helpLink";
            if (!TendrilText.Fits(urlInfoAbout, UrlInfoAboutLength)) return "urlInfoAbout";
            if (!TendrilText.Fits(urlUpdateInfo, UrlUpdateInfoLength)) return "urlUpdateInfo";
            if (!TendrilText.Fits(shortcutFolder, ShortcutFolderLength)) return "shortcutFolder";
            if (!TendrilText.Fits(exeName, ExeNameLength)) return "exeName";
            if (!TendrilText.Fits(argument, ArgumentLength)) return "argument";
            return null;
        }
    }

    // One entry of the list that follows the request: a shortcut to create or delete (654 bytes).
    [StructLayout(LayoutKind.Sequential, CharSet = CharSet.Unicode)]
    public struct TendrilEntry
    {
        public const int NameLength = 65;
        public const int PathLength = 261;

        [MarshalAs(UnmanagedType.ByValTStr, SizeConst = NameLength)]
        public string name;
        [MarshalAs(UnmanagedType.ByValTStr, SizeConst = PathLength)]
        public string path;
        public byte create;  // 1: create the shortcut; 0: delete it
        public byte padding;

        public string FirstTooLong()
        {
            if (!TendrilText.Fits(name, NameLength)) return "name";
            if (!TendrilText.Fits(path, PathLength)) return "path";
            return null;
        }
    }

    // One window message Tendril sent, with the time it arrived in ms since the run started.
    [StructLayout(LayoutKind.Sequential, CharSet = CharSet.Unicode)]
    public struct TendrilMessage
    {
        public uint message;  // TENDRIL_WM_CONNECTED, _STATUS or _NOT_ELEVATED
        public uint reserved;
        public long wParam;
        public long lParam;
        public double atMs;
    }

    // How a run ended, or how far it has come.
    [StructLayout(LayoutKind.Sequential, CharSet = CharSet.Unicode)]
    public struct TendrilOutcome
    {
        public int kind;              // TENDRIL_OUTCOME_*
        public int hasResult;         // 1 when a result message arrived
        public int resultCommand;     // its wParam: the command (0 for a failed pipe open)
        public int resultCode;        // its lParam: TENDRIL_NO_ERROR or an error code
        public uint windowsError;     // the Windows error behind FAILED_TO_START, else 0
        public uint tendrilProcessId; // from Tendril's announcement, 0 before it
        public int exited;            // 1 once tendril.exe has ended
        public uint exitCode;         // its exit code, when it has ended
    }

    // Called on the library's own thread for every message, in order, as it arrives. It must
    // return promptly and must not close the run. Keep the delegate referenced (a field, or
    // GC.KeepAlive after the run is closed) for as long as the run lives: the library holds only
    // a function pointer, which the garbage collector does not see.
    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    public delegate void TendrilMessageCallback(IntPtr context, ref TendrilMessage message);

    // A run of tendril_run_start; disposing it calls tendril_run_close. Dispose it yourself after
    // tendril_wait: a run still going is cancelled and given TENDRIL_DEFAULT_GRACE_MS first, which
    // a finalizer should not wait for.
    public sealed class TendrilRunHandle : SafeHandle
    {
        public TendrilRunHandle() : base(IntPtr.Zero, true) { }

        public override bool IsInvalid { get { return handle == IntPtr.Zero; } }

        protected override bool ReleaseHandle()
        {
            TendrilNative.tendril_run_close(handle);
            return true;
        }
    }

    // Text fields filled safely: refused, not cut, when they do not fit.
    public static class TendrilText
    {
        // True when text (null counts as empty) fits a field of fieldLength UTF-16 units together
        // with its terminating NUL.
        public static bool Fits(string text, int fieldLength)
        {
            return text == null || text.Length <= fieldLength - 1;
        }

        // Sets field to text when it fits; otherwise leaves the field empty and returns false.
        // Example: TendrilText.Set(ref request.installFolder, folder,
        //                          TendrilRequest.InstallFolderLength)
        public static bool Set(ref string field, string text, int fieldLength)
        {
            if (!Fits(text, fieldLength))
            {
                field = "";
                return false;
            }
            field = text ?? "";
            return true;
        }
    }

    // The constants and functions of tendril_launcher.h, under their C names.
    public static class TendrilNative
    {
        public const string Library = "tendril_launcher.dll";

        // Command codes (the first 4 bytes a launcher writes) and Cancel.
        public const int TENDRIL_REFRESH_REGISTRATION = 1;
        public const int TENDRIL_INSTALL_RUNTIME_UPDATE = 2;
        public const int TENDRIL_UNINSTALL_CLIENT = 3;
        public const int TENDRIL_GRANT_USERS_ACCESS = 4;
        public const int TENDRIL_APPLY_SHORTCUTS = 5;
        public const int TENDRIL_NO_OPERATION = 6;
        public const int TENDRIL_TERMINATE_PROCESSES = 7;
        public const int TENDRIL_SET_LONG_NAME = 8;
        public const int TENDRIL_CANCEL = 9;

        // Tendril's result codes (lParam of its result message); 3 is never sent.
        public const int TENDRIL_NO_ERROR = 0;
        public const int TENDRIL_INSTALL_FOLDER_UNAVAILABLE = 1;
        public const int TENDRIL_INSTALL_FOLDER_TOO_SHORT = 2;
        public const int TENDRIL_ACCESS_NOT_GRANTED = 4;
        public const int TENDRIL_UNINSTALL_KEY_NOT_CREATED = 5;
        public const int TENDRIL_NO_FREE_INSTALL_SLOT = 6;
        public const int TENDRIL_INSTALL_RECORD_NOT_STORED = 7;
        public const int TENDRIL_INSTALL_RECORD_NOT_REMOVED = 8;
        public const int TENDRIL_FOLDER_NOT_FOUND = 9;
        public const int TENDRIL_SECURITY_DESCRIPTOR_FAILED = 10;
        public const int TENDRIL_PIPE_OPEN_FAILED = 11;
        public const int TENDRIL_PIPE_READ_FAILED = 12;
        public const int TENDRIL_BAD_COMMAND = 13;
        public const int TENDRIL_TERMINATE_FAILED = 14;
        public const int TENDRIL_UPDATE_LAUNCH_FAILED = 15;
        public const int TENDRIL_UPDATE_WAIT_FAILED = 16;
        public const int TENDRIL_UPDATE_EXIT_CODE_NON_ZERO = 17;

        // The window messages Tendril sends, and the wParam of a progress message.
        public const int TENDRIL_WM_CONNECTED = 2324;
        public const int TENDRIL_WM_STATUS = 2325;
        public const int TENDRIL_WM_NOT_ELEVATED = 2326;
        public const int TENDRIL_STATUS_PROGRESS = 6;

        // How a run ended (TendrilOutcome.kind).
        public const int TENDRIL_OUTCOME_RUNNING = 0;
        public const int TENDRIL_OUTCOME_RESULT = 1;
        public const int TENDRIL_OUTCOME_NO_RESULT = 2;
        public const int TENDRIL_OUTCOME_NOT_ELEVATED = 3;
        public const int TENDRIL_OUTCOME_CANCELLED = 4;
        public const int TENDRIL_OUTCOME_TIMED_OUT = 5;
        public const int TENDRIL_OUTCOME_FAILED_TO_START = 6;

        public const uint TENDRIL_INFINITE = 0xFFFFFFFFu;
        public const uint TENDRIL_DEFAULT_GRACE_MS = 10000u;

        // The texts these return are the library's own, static and ASCII: read them with
        // Marshal.PtrToStringAnsi (Text below), never free them. A null pointer: no such name.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, CharSet = CharSet.Unicode,
                   ExactSpelling = true)]
        public static extern IntPtr tendril_version();

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, CharSet = CharSet.Unicode,
                   ExactSpelling = true)]
        public static extern IntPtr tendril_error_name(int code);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, CharSet = CharSet.Unicode,
                   ExactSpelling = true)]
        public static extern IntPtr tendril_outcome_name(int kind);

        // Copies text into a field of fieldLength units and zero-fills the rest; 0 (field left
        // empty) when it does not fit with its NUL.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, CharSet = CharSet.Unicode,
                   ExactSpelling = true)]
        public static extern int tendril_set_text([In, Out] char[] field, uint fieldLength,
                                                  string text);

        // Starts one run. The request and the entries are copied before it returns. entries may
        // be null when entryCount is 0. Returns an invalid handle only for invalid arguments.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, CharSet = CharSet.Unicode,
                   ExactSpelling = true)]
        public static extern TendrilRunHandle tendril_run_start(
            string tendrilPath, int command, [In] ref TendrilRequest request,
            [In] TendrilEntry[] entries, int entryCount, TendrilMessageCallback onMessage,
            IntPtr context);

        // The same for TENDRIL_INSTALL_RUNTIME_UPDATE, which sends no record: request IntPtr.Zero.
        [DllImport(Library, EntryPoint = "tendril_run_start",
                   CallingConvention = CallingConvention.Cdecl, CharSet = CharSet.Unicode,
                   ExactSpelling = true)]
        public static extern TendrilRunHandle tendril_run_start_without_record(
            string tendrilPath, int command, IntPtr request, [In] TendrilEntry[] entries,
            int entryCount, TendrilMessageCallback onMessage, IntPtr context);

        // 1: message is set; 0: none arrived in time; -1: the run has ended, every message taken.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, CharSet = CharSet.Unicode,
                   ExactSpelling = true)]
        public static extern int tendril_next_message(TendrilRunHandle run,
                                                      out TendrilMessage message, uint timeoutMs);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, CharSet = CharSet.Unicode,
                   ExactSpelling = true)]
        public static extern void tendril_cancel(TendrilRunHandle run);

        // The outcome's kind; TENDRIL_INFINITE waits without a limit, graceMs 0 means
        // TENDRIL_DEFAULT_GRACE_MS.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, CharSet = CharSet.Unicode,
                   ExactSpelling = true)]
        public static extern int tendril_wait(TendrilRunHandle run, uint timeoutMs, uint graceMs);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, CharSet = CharSet.Unicode,
                   ExactSpelling = true)]
        public static extern void tendril_get_outcome(TendrilRunHandle run,
                                                      out TendrilOutcome outcome);

        // Called by TendrilRunHandle; call it yourself only on a pointer you own.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, CharSet = CharSet.Unicode,
                   ExactSpelling = true)]
        public static extern void tendril_run_close(IntPtr run);

        // The text behind a pointer of tendril_version, tendril_error_name or
        // tendril_outcome_name, or null.
        public static string Text(IntPtr name)
        {
            return name == IntPtr.Zero ? null : Marshal.PtrToStringAnsi(name);
        }
    }
}
