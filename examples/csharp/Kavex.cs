// The eight functions of Kavex.dll for .NET hosts (P/Invoke).
//
// Kavex.dll exists as a 32-bit (x86) and a 64-bit (x64) DLL, and a process
// can load only the one of its own word size: a 64-bit process that loads the
// 32-bit DLL gets a BadImageFormatException. Either build the host for one
// platform (PlatformTarget x86 or x64) and ship that DLL beside it, or build
// it AnyCPU, ship both as x86\Kavex.dll and x64\Kavex.dll, and call
// Kavex.UseDllOfThisProcess() before the first call (it points the DLL
// search at the right folder).
//
// On 32-bit the functions use stdcall, which CallingConvention.StdCall says;
// on 64-bit there is one convention and the setting is ignored. Port names
// are 8-bit (ANSI) strings. Card codes are written into byte buffers: a
// code is ASCII digits, and a StringBuilder would not show the library
// which bytes it must leave alone.
using System;
using System.IO;
using System.Runtime.InteropServices;
using System.Text;

namespace Kavex
{
    public static class KavexDll
    {
        private const string Dll = "Kavex.dll";

        // Ordinal 1. Opens the primary reader on portName ("COM1" to "COM9";
        // only the fourth character counts), or, with null, on the port of the
        // ipportconfig.ini beside the host's .exe (COM1 without one), and the
        // further readers configured there. 1 when the primary reader opened.
        [DllImport(Dll, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi, ExactSpelling = true)]
        public static extern int OpenCom(string portName);

        // Ordinal 2. 1 with a ten-digit code in cardCode (11 bytes), 0 when
        // none is waiting. Returns at once: poll it.
        [DllImport(Dll, CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        public static extern int GetCardCode([Out] byte[] cardCode);

        // Ordinal 3. Closes the primary and the configured further readers.
        [DllImport(Dll, CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        public static extern int CloseCom();

        // Ordinal 4. Always 20.
        [DllImport(Dll, CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        public static extern int GetIDVersion();

        // Ordinal 5. Waits, without a time-out, until codeLength digits (0 to
        // 50) have come on the extended port; writes them and a NUL into
        // cardCode (codeLength + 1 bytes) and returns codeLength. Call it from
        // a worker thread, not from the UI thread.
        [DllImport(Dll, CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        public static extern int GetCardCodeEx([Out] byte[] cardCode, int codeLength);

        // Ordinal 6. Closes the extended port.
        [DllImport(Dll, CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        public static extern int CloseComEx();

        // Ordinal 7. Opens the extended port on portName; reserved is ignored.
        [DllImport(Dll, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi, ExactSpelling = true)]
        public static extern int OpenComEx(string portName, int reserved);

        // Ordinal 8. As GetCardCode, for further reader readerType (1 to 4).
        [DllImport(Dll, CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        public static extern int GetOtherCardCode([Out] byte[] cardCode, int readerType);

        // The code in a buffer that GetCardCode, GetOtherCardCode or
        // GetCardCodeEx filled: its digits up to the first NUL.
        public static string CodeText(byte[] cardCode)
        {
            int length = Array.IndexOf(cardCode, (byte)0);
            return Encoding.ASCII.GetString(cardCode, 0, length < 0 ? cardCode.Length : length);
        }

        [DllImport("kernel32.dll", CharSet = CharSet.Unicode, SetLastError = true)]
        private static extern bool SetDllDirectory(string path);

        // For an AnyCPU host that ships x86\Kavex.dll and x64\Kavex.dll beside
        // its .exe: makes the first call load the one of this process.
        public static void UseDllOfThisProcess()
        {
            string folder = Path.Combine(AppContext.BaseDirectory, Environment.Is64BitProcess ? "x64" : "x86");
            if (!SetDllDirectory(folder))
                throw new DllNotFoundException("cannot search " + folder + " for Kavex.dll");
        }
    }
}
