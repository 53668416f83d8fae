package com.tarnwick.nxo;

import com.tarnwick.loader.Archive;
import com.tarnwick.loader.LaunchedURLClassLoader;

import java.io.File;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.net.URL;
import java.security.CodeSource;
import java.security.cert.Certificate;
import java.util.ArrayList;
import java.util.Collections;
import java.util.Enumeration;
import java.util.HashMap;
import java.util.HashSet;
import java.util.List;
import java.util.Set;
import java.util.jar.Manifest;

/**
 * The application's class loader: the archives of the executable plus the
 * extra class path of "nxo.class.path", with lookups that first ask the
 * executable's natives.
 */
public class KestrelClassLoader extends LaunchedURLClassLoader {

    /** The most recently constructed loader; the launcher reuses it. */
    public static KestrelClassLoader instance;

    /** Whether calling the natives failed to link: then they are not asked again. */
    private static volatile boolean nativesMissing;

    static {
        ClassLoader.registerAsParallelCapable();
        instance = null;
        // Unbound natives: lookups fall back to the archives.
        nativesMissing = !Handler.loadNatives();
    }

    /**
     * Where the names of the classes this loader defines go, one per line,
     * when "nxo.cds.classlist" names a file: the launcher's class-data
     * archive is then made later, by a start that loads the same classes,
     * and the list says which. Each name is written as it is defined, so
     * the list is whole however the JVM ends.
     */
    private static final FileOutputStream classList = openClassList();

    /** Package name to the code source of its classes, filled by findClass. */
    protected final HashMap<String, CodeSource> cscache;

    public KestrelClassLoader() {
        this(launcherArchiveUrls(), KestrelClassLoader.class.getClassLoader());
    }

    /** The constructor the JVM uses when this class is named by "java.system.class.loader". */
    public KestrelClassLoader(ClassLoader parent) {
        this(launcherArchiveUrls(), parent);
    }

    public KestrelClassLoader(URL[] urls, ClassLoader parent) {
        super(getNxoClassPath(urls), parent);
        cscache = new HashMap<String, CodeSource>();
        // The launcher's word that no agent or boot class path adds classes to
        // the parent beside the JVM's class path.
        if ("true".equals(System.getProperty("nxo.parent.known"))) {
            knowParentClasses(System.getProperty("java.class.path", ""));
        }
        instance = this;
    }

    private static URL[] launcherArchiveUrls() {
        List<Archive> archives;
        try {
            archives = new KestrelLauncher().getClassPathArchives();
        } catch (Exception e) {
            // Unchecked, for the constructors the JVM calls: a system class
            // loader that cannot be made ends the start with this cause.
            throw new IllegalStateException("Unable to read the application's archives: " + e, e);
        }
        List<URL> urls = new ArrayList<URL>(archives.size());
        for (Archive archive : archives) {
            try {
                urls.add(archive.getUrl());
            } catch (IOException e) {
                // A malformed URL, the only failure here.
                e.printStackTrace();
            }
        }
        return urls.toArray(new URL[0]);
    }

    /** The given URLs followed by the entries of "nxo.class.path". */
    protected static URL[] getNxoClassPath(URL[] urls) {
        List<URL> all = new ArrayList<URL>();
        for (URL url : urls) {
            all.add(url);
        }
        String extra = System.getProperty("nxo.class.path", "");
        int position = 0;
        while (position < extra.length()) {
            int separator = extra.indexOf(File.pathSeparator, position);
            int end = separator < 0 ? extra.length() : separator;
            String piece = extra.substring(position, end);
            if (!piece.isEmpty()) {
                try {
                    all.add(new File(piece).toURI().toURL());
                } catch (IOException e) {
                    // A malformed URL, the only failure here.
                    e.printStackTrace();
                }
            }
            if (separator < 0) {
                break;
            }
            position = separator + File.pathSeparator.length();
        }
        return all.toArray(new URL[0]);
    }

    private static FileOutputStream openClassList() {
        String file = System.getProperty("nxo.cds.classlist");
        if (file == null || file.isEmpty()) {
            return null;
        }
        try {
            return new FileOutputStream(file);
        } catch (IOException e) {
            // No list, no archive: a later start records again.
            return null;
        }
    }

    private static void recordDefined(String name) {
        try {
            byte[] line = name.concat("\n").getBytes("UTF-8");
            synchronized (classList) {
                classList.write(line);
            }
        } catch (IOException e) {
            // A list cut short only makes a smaller archive.
        }
    }

    @Override
    protected Class<?> findClass(String name) throws ClassNotFoundException {
        Class<?> defined = findClassUnrecorded(name);
        if (classList != null) {
            recordDefined(name);
        }
        return defined;
    }

    @SuppressWarnings("deprecation")
    private Class<?> findClassUnrecorded(String name) throws ClassNotFoundException {
        int dot = name.lastIndexOf('.');
        String packageName = dot > 0 ? name.substring(0, dot) : "";
        if (!packageName.isEmpty() && getPackage(packageName) == null) {
            URL url = nativeResource(name.replace('.', '/').concat(".class"));
            if (url == null) {
                return super.findClass(name);
            }
            definePackageFrom(url, packageName);
        }
        CodeSource codeSource;
        synchronized (cscache) {
            codeSource = cscache.get(packageName);
        }
        Class<?> defined;
        try {
            defined = nativeDefinition(name, codeSource);
        } catch (Throwable t) {
            throw new ClassNotFoundException(name, t);
        }
        return defined != null ? defined : super.findClass(name);
    }

    /**
     * Defines a package for a class the natives located: the manifest beside
     * the class, and the code source of the archive before the last "!".
     */
    private void definePackageFrom(URL url, String packageName) {
        String text = url.toString();
        int k = Math.max(text.lastIndexOf(':'), text.lastIndexOf('!'));
        Manifest manifest = null;
        try {
            String base = text.substring(0, k + 1) + ("nxo".equals(url.getProtocol()) ? "" : "/");
            InputStream in = new URL(base + "META-INF/MANIFEST.MF").openStream();
            try {
                manifest = new Manifest(in);
            } finally {
                in.close();
            }
        } catch (IOException e) {
            manifest = null;
        }
        URL sealBase = null;
        if (k >= 0 && text.charAt(k) == '!') {
            try {
                sealBase = new URL(text.substring(0, k));
                CodeSource codeSource = new CodeSource(sealBase, (Certificate[]) null);
                synchronized (cscache) {
                    cscache.put(packageName, codeSource);
                }
            } catch (Exception e) {
                sealBase = null;
            }
        }
        try {
            if (manifest != null) {
                definePackage(packageName, manifest, sealBase);
            } else {
                definePackage(packageName, null, null, null, null, null, null, null);
            }
        } catch (IllegalArgumentException e) {
            // Defined by another thread meanwhile.
        }
    }

    @Override
    public URL findResource(String name) {
        URL url = nativeResource(name);
        return url != null ? url : super.findResource(name);
    }

    @Override
    public native Enumeration<URL> findResources(String name) throws IOException;

    /**
     * The base class's answer, which asks the native findResources. Without
     * natives it answers as a bound native would, from the parent and the
     * archives, just as findResource0 and defineClass fall back.
     */
    @Override
    public Enumeration<URL> getResources(String name) throws IOException {
        if (!nativesMissing) {
            try {
                return super.getResources(name);
            } catch (LinkageError e) {
                if (!(e instanceof UnsatisfiedLinkError)) {
                    throw e;
                }
                nativesMissing = true;
            }
        }
        List<URL> found = new ArrayList<URL>();
        ClassLoader parent = getParent();
        if (parent != null) {
            found.addAll(Collections.list(parent.getResources(name)));
        }
        found.addAll(Collections.list(super.findResources(name)));
        return Collections.enumeration(found);
    }

    private native URL findResource0(String name);

    /**
     * The packages of the boot layer's modules: the JDK's own live set of
     * them where the runtime keeps one, else one array of package names per
     * module; null on a runtime without modules.
     */
    private static native Object modulePackages();

    @Override
    @SuppressWarnings("unchecked")
    protected Set<String> bootLayerPackages() {
        if (nativesMissing) {
            return null;
        }
        Object found;
        try {
            found = modulePackages();
        } catch (LinkageError e) {
            // Natives of another executable, or none: the parent is asked as ever.
            return null;
        }
        if (found instanceof Set) {
            return (Set<String>) found;
        }
        if (!(found instanceof Object[])) {
            return null;
        }
        Set<String> packages = new HashSet<String>(2048);
        for (Object names : (Object[]) found) {
            for (Object name : (Object[]) names) {
                packages.add((String) name);
            }
        }
        return packages;
    }

    private native Class<?> defineClass(String name, CodeSource codeSource);

    /**
     * Asks the native lookup. Natives that are not bound (no launcher around,
     * as in a plain JVM) answer as the bound ones do: no match.
     */
    private URL nativeResource(String name) {
        if (nativesMissing) {
            return null;
        }
        try {
            return findResource0(name);
        } catch (LinkageError e) {
            if (!(e instanceof UnsatisfiedLinkError)) {
                throw e;
            }
            nativesMissing = true;
            return null;
        }
    }

    private Class<?> nativeDefinition(String name, CodeSource codeSource) {
        if (nativesMissing) {
            return null;
        }
        try {
            return defineClass(name, codeSource);
        } catch (LinkageError e) {
            if (!(e instanceof UnsatisfiedLinkError)) {
                throw e;
            }
            nativesMissing = true;
            return null;
        }
    }
}
