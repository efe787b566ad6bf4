// ZemQR.cs - make a QR Code image file from .NET through the ZEMQRFile library.
//
//   string written = ZemQR.QRFile.Make(@"C:\labels\ラベル", "café 日本 Hello");
//   // written is C:\labels\ラベル.png; a failure throws QRFileException.
//
// Text and file name travel as UTF-8 bytes, so any character reaches the
// symbol and the file system on every platform. On Windows the library is
// ZEMQRFile.dll, taken from the x86\ or x64\ folder beside the application
// when there is one; elsewhere libZEMQRFile.so on the loader's path.
using System;
using System.IO;
using System.Runtime.InteropServices;
using System.Text;

namespace ZemQR
{
    /// <summary>A failed QRFile.Make: the library's result code and the console
    /// program's message for it.</summary>
    public class QRFileException : Exception
    {
        public int Code { get; }

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

    public static class QRFile
    {
        const uint ImageFlagUtf8Names = 0x00000002;
        const int CharsetUtf8 = 3;
        const int ParameterError = -1;
        // The library may append ".png" to the name in place.
        const int NameSpare = 5;

        // Byte arrays, never string or StringBuilder: those would be passed in
        // the ANSI code page on Windows.
        [DllImport("ZEMQRFile", CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        static extern int ZEMQRFile(uint flags, [In, Out] byte[] fileName, int mode, int version,
                                    int level, int maskPattern, int cellSize, int charset,
                                    int length, byte[] message);

        [DllImport("kernel32", CharSet = CharSet.Unicode, ExactSpelling = true)]
        static extern IntPtr LoadLibraryW(string fileName);

        // An AnyCPU program runs as 32 or 64 bits: load the DLL of its own word
        // size by full path first, and the DllImport above binds to it.
        static QRFile()
        {
            if (Environment.OSVersion.Platform != PlatformID.Win32NT) return;
            string path = Path.Combine(AppDomain.CurrentDomain.BaseDirectory,
                                       IntPtr.Size == 8 ? "x64" : "x86", "ZEMQRFile.dll");
            if (File.Exists(path)) LoadLibraryW(path);
        }

        /// <summary>Writes text as a QR Code to fileName (PNG, or BMP when the name
        /// ends in .bmp) and returns the name written: fileName, with ".png" added
        /// unless it ends in .png or .bmp. Level 1 to 4 is L, M, Q, H; version 0,
        /// mask pattern 0 and mode 0 let the library choose.</summary>
        public static string Make(string fileName, string text, int level = 2, int cellSize = 4,
                                  int version = 0, int maskPattern = 0, int mode = 0)
        {
            byte[] name = Terminated(fileName, NameSpare);
            byte[] message = Terminated(text, 1);
            // The library would cut a string at a NUL, and a lone surrogate has no
            // UTF-8 form: either would write something other than was asked.
            if (name == null || message == null) throw new QRFileException(ParameterError);
            int result = ZEMQRFile(ImageFlagUtf8Names, name, mode, version, level, maskPattern,
                                   cellSize, CharsetUtf8, 0, message);
            if (result < 0) throw new QRFileException(result);
            return Encoding.UTF8.GetString(name, 0, Array.IndexOf(name, (byte)0));
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
    }
}
