// ZemQR.cs - make a QR Code image file from .NET through the ZEMQRFile library.
//
//   string written = ZemQR.QRFile.Make(@"C:\labels\ラベル", "café 日本 Hello");
//   // written is C:\labels\ラベル.png; a failure throws QRFileException.
//
// Text and file name travel as UTF-8 bytes, so any character reaches the
// symbol and the file system on every platform. The same file is the ZemQR
// package's assembly and the class a project copies in by hand; it compiles
// with any C# 7 compiler, mono's mcs included.
//
// Where the library is looked for, first to last:
//   Windows: ZEMQRFile.dll of the process's architecture (x86 or x64) in the
//     package's runtimes\win-ARCH\native, then beside this assembly (flat,
//     then in x86\ or x64\), beside the application, then the system's search.
//   Linux: libZEMQRFile.so of the process's architecture in the package's
//     runtimes/linux-ARCH/native, beside this assembly, then the loader's
//     search for libZEMQRFile.so and for libZEMQRFile.so.1 (the library
//     package's name; the unversioned link comes only with the -dev package).
using System;
using System.Collections.Generic;
using System.IO;
using System.Reflection;
using System.Runtime.InteropServices;
using System.Text;

namespace ZemQR
{
    /// <summary>The error correction level: the share of the symbol that may be
    /// lost and still read back.</summary>
    public enum ErrorCorrection
    {
        /// <summary>About 7% of the symbol may be lost.</summary>
        L = 1,
        /// <summary>About 15% of the symbol may be lost.</summary>
        M = 2,
        /// <summary>About 25% of the symbol may be lost.</summary>
        Q = 3,
        /// <summary>About 30% of the symbol may be lost.</summary>
        H = 4,
    }

    /// <summary>How the text is encoded in the symbol.</summary>
    public enum DataMode
    {
        /// <summary>The library chooses from the text.</summary>
        Auto = 0,
        /// <summary>Digits 0 to 9 only.</summary>
        Numeric = 1,
        /// <summary>Digits, upper-case letters, space and $%*+-./:</summary>
        Alphanumeric = 2,
        /// <summary>Any bytes: the text as UTF-8, or as Shift-JIS where it has kanji.</summary>
        Byte = 3,
        /// <summary>Shift-JIS double-byte characters.</summary>
        Kanji = 4,
    }

    /// <summary>A failed QRFile.Make: the library's result code and the console
    /// program's message for it.</summary>
    public class QRFileException : Exception
    {
        /// <summary>The library's result code, negative: -1 for a parameter error
        /// (an empty text, for one), -60 to -74 when the PNG file cannot be
        /// written, -80 to -94 for the BMP file.</summary>
        public int Code { get; }

        /// <summary>An exception for result code <paramref name="code"/>, with the
        /// console program's message for it.</summary>
        public QRFileException(int code) : base(MessageFor(code)) { Code = code; }

        // The console program's messages, without their line end.
        static string MessageFor(int code)
        {
            if (code == -1) return "Parameter error";
            if (code == -2) return "Message file not found";
            if (code == -3) return "Message file read error";
            if (code == -4) return "Image area create error";
            if (code == -6) return "Image area cropping error";
            if (code <= -20 && code >= -29) return "QR Code image create error [" + code + "]";
            if (code <= -30 && code >= -39) return "QR Code image rsecc error [" + code + "]";
            if (code <= -60 && code >= -74) return ".png file store error [" + code + "]";
            if (code <= -80 && code >= -94) return ".bmp file store error [" + code + "]";
            return "QR Code file error [" + code + "]";
        }
    }

    /// <summary>Writes QR Codes as PNG or BMP files. Safe to call from several
    /// threads at once, each writing its own file.</summary>
    public static class QRFile
    {
        const uint ImageFlagUtf8Names = 0x00000002;
        const int CharsetUtf8 = 3;
        const int ParameterError = -1;
        // The library may append ".png" to the name in place.
        const int NameSpare = 5;
        const string WindowsName = "ZEMQRFile.dll";
        const string LinuxName = "libZEMQRFile.so";
        const string LinuxLibraryPackageName = "libZEMQRFile.so.1";

        // Byte arrays, never string or StringBuilder: those would be passed in
        // the ANSI code page on Windows.
        [DllImport("ZEMQRFile", CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        static extern int ZEMQRFile(uint flags, [In, Out] byte[] fileName, int mode, int version,
                                    int level, int maskPattern, int cellSize, int charset,
                                    int length, byte[] message);

        // The same export under the library package's file name, for a loader
        // that finds no libZEMQRFile.so.
        [DllImport(LinuxLibraryPackageName, EntryPoint = "ZEMQRFile", ExactSpelling = true)]
        static extern int ZEMQRFileSo1(uint flags, [In, Out] byte[] fileName, int mode, int version,
                                       int level, int maskPattern, int cellSize, int charset,
                                       int length, byte[] message);

        /// <summary>Writes text as a QR Code to fileName (PNG, or BMP when the name
        /// ends in .bmp) and returns the name written: fileName, with ".png" added
        /// unless it ends in .png or .bmp. Level 1 to 4 is L, M, Q, H; version 0,
        /// mask pattern 0 and mode 0 let the library choose.</summary>
        /// <param name="fileName">The file to write, any characters; an existing
        /// file is replaced whole.</param>
        /// <param name="text">The text of the symbol, any characters. Kanji and kana
        /// are stored as Shift-JIS, everything else as UTF-8.</param>
        /// <param name="level">Error correction level, 1 (L) to 4 (H).</param>
        /// <param name="cellSize">Pixels per module.</param>
        /// <param name="version">Symbol version 1 to 40, or 0 for the smallest that fits.</param>
        /// <param name="maskPattern">Mask pattern 1 to 8, or 0 for the best.</param>
        /// <param name="mode">Data mode as in <see cref="DataMode"/>.</param>
        /// <returns>The name of the file written.</returns>
        /// <exception cref="QRFileException">The library refused the request or
        /// could not write the file; also for a text or name holding a NUL
        /// character or a lone surrogate (code -1).</exception>
        /// <exception cref="PlatformNotSupportedException">No library for this
        /// process's architecture or C library.</exception>
        /// <exception cref="DllNotFoundException">The library could not be loaded;
        /// the message names the files tried and why each failed.</exception>
        public static string Make(string fileName, string text, int level = 2, int cellSize = 4,
                                  int version = 0, int maskPattern = 0, int mode = 0)
        {
            byte[] name = Terminated(fileName, NameSpare);
            byte[] message = Terminated(text, 1);
            // The library would cut a string at a NUL, and a lone surrogate has no
            // UTF-8 form: either would write something other than was asked.
            if (name == null || message == null) throw new QRFileException(ParameterError);
            int result = Call(ImageFlagUtf8Names, name, mode, version, level, maskPattern,
                              cellSize, CharsetUtf8, message);
            if (result < 0) throw new QRFileException(result);
            return Encoding.UTF8.GetString(name, 0, Array.IndexOf(name, (byte)0));
        }

        /// <summary>Writes text as a QR Code to fileName, as
        /// <see cref="Make(string, string, int, int, int, int, int)"/> does, with the
        /// level and mode named.</summary>
        /// <param name="fileName">The file to write, any characters.</param>
        /// <param name="text">The text of the symbol, any characters.</param>
        /// <param name="level">Error correction level.</param>
        /// <param name="cellSize">Pixels per module.</param>
        /// <param name="version">Symbol version 1 to 40, or 0 for the smallest that fits.</param>
        /// <param name="maskPattern">Mask pattern 1 to 8, or 0 for the best.</param>
        /// <param name="mode">Data mode.</param>
        /// <returns>The name of the file written.</returns>
        /// <exception cref="QRFileException">The library refused the request or
        /// could not write the file.</exception>
        /// <exception cref="PlatformNotSupportedException">No library for this
        /// process's architecture or C library.</exception>
        /// <exception cref="DllNotFoundException">The library could not be loaded.</exception>
        public static string Make(string fileName, string text, ErrorCorrection level, int cellSize = 4,
                                  int version = 0, int maskPattern = 0, DataMode mode = DataMode.Auto)
        {
            return Make(fileName, text, (int)level, cellSize, version, maskPattern, (int)mode);
        }

        static readonly Encoding StrictUtf8 = new UTF8Encoding(false, true);

        // The UTF-8 bytes of s followed by spare zero bytes (an empty string for
        // null, which the library refuses); null when s cannot be passed whole.
        static byte[] Terminated(string s, int spare)
        {
            if (s == null) return new byte[spare];
            if (s.IndexOf('\0') >= 0) return null;
            try
            {
                byte[] bytes = new byte[StrictUtf8.GetByteCount(s) + spare];
                StrictUtf8.GetBytes(s, 0, s.Length, bytes, 0);
                return bytes;
            }
            catch (EncoderFallbackException)
            {
                return null;
            }
        }

        // ---- Loading the library ---------------------------------------------

        static readonly object LoadLock = new object();
        // What each attempt to load the library gave, for the exception's message.
        static readonly List<string> Tried = new List<string>();

        static int Call(uint flags, byte[] name, int mode, int version, int level, int maskPattern,
                        int cellSize, int charset, byte[] message)
        {
#if !NET5_0_OR_GREATER
            lock (LoadLock)
            {
                if (!preloaded)
                {
                    preloaded = true;
                    Preload();
                }
            }
#endif
            try
            {
                return ZEMQRFile(flags, name, mode, version, level, maskPattern, cellSize, charset, 0, message);
            }
            catch (DllNotFoundException e) when (IsLinux)
            {
                try
                {
                    return ZEMQRFileSo1(flags, name, mode, version, level, maskPattern, cellSize, charset, 0, message);
                }
                catch (DllNotFoundException so1)
                {
                    throw LoadFailure("Neither " + LinuxName + " nor " + LinuxLibraryPackageName +
                                      " is beside the application or on the loader's path (LD_LIBRARY_PATH," +
                                      " ldconfig's cache): " + e.Message + "; " + so1.Message, e);
                }
            }
            catch (DllNotFoundException e)
            {
                throw LoadFailure(e.Message, e);
            }
            catch (BadImageFormatException e)
            {
                throw LoadFailure(e.Message, e);
            }
        }

        static bool IsLinux { get { return RuntimeInformation.IsOSPlatform(OSPlatform.Linux); } }
        static bool IsWindows { get { return RuntimeInformation.IsOSPlatform(OSPlatform.Windows); } }

        // The package's runtime identifier for this process, or null where it
        // carries no library: another architecture, OS or C library.
        static string RuntimeId()
        {
            Architecture arch = RuntimeInformation.ProcessArchitecture;
            if (IsWindows && arch == Architecture.X86) return "win-x86";
            if (IsWindows && arch == Architecture.X64) return "win-x64";
            if (IsLinux && !IsMusl() && arch == Architecture.X64) return "linux-x64";
            if (IsLinux && !IsMusl() && arch == Architecture.Arm64) return "linux-arm64";
            return null;
        }

        // musl's dynamic loader is /lib/ld-musl-ARCH.so.1; glibc's has other names.
        static bool IsMusl()
        {
            try
            {
                return Directory.GetFiles("/lib", "ld-musl-*").Length > 0;
            }
            catch (IOException)
            {
                return false;
            }
            catch (UnauthorizedAccessException)
            {
                return false;
            }
        }

        static Exception LoadFailure(string loaderMessage, Exception inner)
        {
            string tried;
            lock (LoadLock) tried = Tried.Count == 0 ? "" : " Tried: " + string.Join("; ", Tried.ToArray()) + ".";
            if (RuntimeId() == null)
                return new PlatformNotSupportedException(Unsupported() + tried + " " + loaderMessage, inner);
            return new DllNotFoundException("The ZEMQRFile library could not be loaded." + tried + " " + loaderMessage, inner);
        }

        static string Unsupported()
        {
            Architecture arch = RuntimeInformation.ProcessArchitecture;
            string where = RuntimeInformation.OSDescription + " " + arch;
            if (IsWindows && arch == Architecture.Arm64)
                return "The ZemQR package has no ZEMQRFile.dll for Arm64 processes (" + where +
                       "): build the application for x64 (or x86); it runs emulated on Windows on Arm.";
            if (IsLinux && IsMusl())
                return "The ZemQR package's libZEMQRFile.so needs glibc, and this system uses musl (" + where +
                       "): build libZEMQRFile.so from source on it and put it on the loader's path.";
            return "The ZemQR package has no ZEMQRFile library for this system (" + where +
                   "): build it from source and put it beside the application or on the loader's path.";
        }

        // The folders where the library may lie, most specific first: this
        // assembly's, then the application's.
        static List<string> Folders()
        {
            var folders = new List<string>();
            string assembly = typeof(QRFile).Assembly.Location;
            if (!string.IsNullOrEmpty(assembly)) AddFolder(folders, Path.GetDirectoryName(assembly));
            string relative = AppDomain.CurrentDomain.RelativeSearchPath;
            if (!string.IsNullOrEmpty(relative))
                foreach (string dir in relative.Split(Path.PathSeparator))
                    if (dir.Length > 0) AddFolder(folders, Path.Combine(AppDomain.CurrentDomain.BaseDirectory, dir));
            AddFolder(folders, AppDomain.CurrentDomain.BaseDirectory);
            return folders;
        }

        // Each folder once, however it was written.
        static void AddFolder(List<string> folders, string dir)
        {
            string full = Path.GetFullPath(dir).TrimEnd(Path.DirectorySeparatorChar, Path.AltDirectorySeparatorChar);
            if (!folders.Contains(full)) folders.Add(full);
        }

        // The files to try for this process, in order.
        static List<string> Candidates(string rid)
        {
            string file = IsWindows ? WindowsName : LinuxName;
            var paths = new List<string>();
            foreach (string dir in Folders())
            {
                paths.Add(Path.Combine(dir, "runtimes", rid, "native", file));
                paths.Add(Path.Combine(dir, file));
                if (IsWindows) paths.Add(Path.Combine(dir, rid.Substring(4), file));
            }
            return paths;
        }

#if NET5_0_OR_GREATER
        // The runtime asks the resolver for each DllImport of this assembly.
        // It loads by full path, so a library of another architecture found on
        // the search path is never taken, and keeps what each attempt gave.
        static QRFile()
        {
            try
            {
                NativeLibrary.SetDllImportResolver(typeof(QRFile).Assembly, Resolve);
            }
            catch (InvalidOperationException)
            {
                // The class was copied into an assembly that has a resolver of
                // its own: that one decides.
            }
        }

        static bool resolved;
        static IntPtr library;

        static IntPtr Resolve(string name, Assembly assembly, DllImportSearchPath? searchPath)
        {
            if (name != "ZEMQRFile" && name != LinuxLibraryPackageName) return IntPtr.Zero;
            lock (LoadLock)
            {
                if (resolved) return library;
                resolved = true;
                string rid = RuntimeId();
                if (rid != null)
                    foreach (string path in Candidates(rid))
                        if (File.Exists(path) && TryLoad(path, out library)) return library;
                foreach (string bare in IsLinux ? new[] { "ZEMQRFile", LinuxLibraryPackageName } : new[] { "ZEMQRFile" })
                {
                    try
                    {
                        library = NativeLibrary.Load(bare, assembly, searchPath);
                        return library;
                    }
                    catch (DllNotFoundException e)
                    {
                        Tried.Add(bare + " on the search path: " + e.Message);
                    }
                }
                return IntPtr.Zero;
            }
        }

        static bool TryLoad(string path, out IntPtr handle)
        {
            try
            {
                handle = NativeLibrary.Load(path);
                return true;
            }
            catch (Exception e) when (e is DllNotFoundException || e is BadImageFormatException)
            {
                Tried.Add(path + ": " + e.Message);
                handle = IntPtr.Zero;
                return false;
            }
        }
#else
        static bool preloaded;

        [DllImport("kernel32", CharSet = CharSet.Unicode, ExactSpelling = true, SetLastError = true)]
        static extern IntPtr LoadLibraryW(string fileName);

        // On Windows the first library of the process's architecture found by
        // full path is loaded, and the DllImport above binds to it by name. On
        // Linux the loader's own search and the .so.1 import do the work.
        static void Preload()
        {
            string rid = RuntimeId();
            if (!IsWindows || rid == null) return;
            foreach (string path in Candidates(rid))
            {
                if (!File.Exists(path)) continue;
                if (LoadLibraryW(path) != IntPtr.Zero) return;
                Tried.Add(path + ": Win32 error " + Marshal.GetLastWin32Error());
            }
        }
#endif
    }
}
